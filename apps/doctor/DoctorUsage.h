#pragma once

namespace quorvel::doctor {

// The man-style text of --help, describing every check.
const char* usageText();

} // namespace quorvel::doctor
