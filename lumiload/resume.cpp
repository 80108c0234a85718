#include "resume.h"

#include <fstream>

#include "netif.h"
#include "report.h"

bool read_unfinished_fixtures(const std::string &path, std::vector<uint32_t> *addresses)
{
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        report_error("failed to read summary file at %s", path.c_str());
        return false;
    }
    if (line.rfind("address,result,", 0) != 0) {
        report_error("%s is not a summary file of -o (its first line is not \"address,result,...\")", path.c_str());
        return false;
    }
    for (int number = 2; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // written on Windows
        if (line.empty())
            continue;
        const size_t comma = line.find(',');
        const size_t end = comma == std::string::npos ? std::string::npos : line.find(',', comma + 1);
        const uint32_t address = parse_ipv4_address(line.substr(0, comma).c_str());
        if (comma == std::string::npos || address == 0 || address == 0xFFFFFFFFu) {
            report_error("summary file %s, line %d: no fixture address", path.c_str(), number);
            return false;
        }
        const std::string result = line.substr(comma + 1, end == std::string::npos ? std::string::npos : end - comma - 1);
        if (result != "confirmed" && result != "uploaded")
            addresses->push_back(address);
    }
    return true;
}
