#pragma once

#include <memory>

namespace quorvel {

// A subscription token: the subscription lasts as long as the token.
class Observation {
public:
    virtual ~Observation() = default;
};
using ObservationHandle = std::unique_ptr<Observation>;

} // namespace quorvel
