// The virtual fixture's configuration: the input as a fault rule, a spec and
// a config file. A refusal always says why; a spec's fixtures stand at rising
// addresses (count=N never wraps past 255.255.255.255).
#include <algorithm>
#include <cstdlib>

#include "config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    FaultRule rule;
    std::string faultError, specError, fileError;
    std::vector<FixtureConfig> spec, file;
    if (parse_fault(text, &rule, &faultError) == !faultError.empty() ||
        parse_fixture_spec(text, &spec, &specError) == !specError.empty() ||
        parse_config_text(text, &file, &fileError) == !fileError.empty() ||
        std::adjacent_find(spec.begin(), spec.end(), [](auto &a, auto &b) { return b.bind <= a.bind; }) != spec.end())
        abort();
    return 0;
}
