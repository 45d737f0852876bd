#include "tools/unitsim/line_codec.h"

#include "model/cp1251.h"

namespace unitsim {

std::string lineToUtf8(std::string_view cp1251) { return cp1251::toUtf8(cp1251); }

std::optional<std::string> utf8ToLine(std::string_view utf8) { return cp1251::fromUtf8(utf8); }

} // namespace unitsim
