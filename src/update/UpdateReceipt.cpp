#include "update/UpdateReceipt.h"

namespace quorvel {

std::string_view toString(UpdateReceiptState state) {
    switch (state) {
    case UpdateReceiptState::installing: return "installing";
    case UpdateReceiptState::installed: return "installed";
    case UpdateReceiptState::failed: return "failed";
    case UpdateReceiptState::rolledBack: return "rolled-back";
    case UpdateReceiptState::cleaned: return "cleaned";
    }
    return "";
}

std::optional<UpdateReceiptState> updateReceiptStateFromString(std::string_view text) {
    for (auto state : {UpdateReceiptState::installing, UpdateReceiptState::installed, UpdateReceiptState::failed,
                       UpdateReceiptState::rolledBack, UpdateReceiptState::cleaned}) {
        if (toString(state) == text) return state;
    }
    return std::nullopt;
}

std::optional<UpdateReceipt> UpdateReceipt::decode(const Bytes&) { return std::nullopt; }

} // namespace quorvel
