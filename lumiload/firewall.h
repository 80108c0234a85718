// Whether the platform's firewall lets lumiload receive Art-Net: on
// Windows an inbound rule for this program in the active profiles (the
// Windows Firewall API); elsewhere nothing is checked. One implementation
// per platform (firewall_linux.cpp, firewall_win32.cpp).
#pragma once

#include <string>

struct FirewallCheck {
    bool checked = false;    // false where the platform has nothing to check
    bool blocks = false;     // replies to lumiload would be dropped
    std::string profiles;    // the active profiles, as Windows names them ("Public", ...)
    std::string text;        // what was found, in words
};

FirewallCheck check_firewall();
