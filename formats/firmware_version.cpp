#include "firmware_version.h"

#include <cstdio>

std::string version_text(uint16_t version)
{
    const unsigned low = version & 0xFF;
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u", static_cast<unsigned>(version >> 8), low / 10, low % 10);
    return text;
}

// Decimal digits only: no sign, no blanks. A part past 999 fails at once,
// so a long one cannot wrap round into range.
static bool parse_part(const std::string &text, size_t begin, size_t end, unsigned *value)
{
    if (begin == end)
        return false;
    *value = 0;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9' || *value > 99)
            return false;
        *value = *value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

bool parse_version_text(const std::string &text, uint16_t *version)
{
    const size_t first = text.find('.');
    const size_t second = first == std::string::npos ? first : text.find('.', first + 1);
    if (second == std::string::npos || text.find('.', second + 1) != std::string::npos)
        return false;
    unsigned major = 0, minor = 0, patch = 0;
    if (!parse_part(text, 0, first, &major) || !parse_part(text, first + 1, second, &minor) ||
        !parse_part(text, second + 1, text.size(), &patch))
        return false;
    if (major > 255 || minor > 25 || patch > 9 || minor * 10 + patch > 255)
        return false;
    *version = static_cast<uint16_t>(major << 8 | (minor * 10 + patch));
    return true;
}
