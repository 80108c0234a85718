#include "firewall.h"

// initguid.h before netfw.h: the class and interface IDs are defined here,
// so no uuid library is needed.
#include <initguid.h>
#include <windows.h>
#include <netfw.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The profiles of the bits in `profiles`, as Windows names them.
std::string profile_names(long profiles)
{
    std::string names;
    const struct {
        long bit;
        const char *name;
    } all[] = {{NET_FW_PROFILE2_DOMAIN, "Domain"}, {NET_FW_PROFILE2_PRIVATE, "Private"}, {NET_FW_PROFILE2_PUBLIC, "Public"}};
    for (const auto &profile : all) {
        if (profiles & profile.bit)
            names += (names.empty() ? "" : ", ") + std::string(profile.name);
    }
    return names.empty() ? "none" : names;
}

std::wstring lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

// What the enabled inbound rules say of this program in `profile`: 1 an
// allow rule covers it, -1 a block rule does (which wins), 0 neither. A
// rule for this program, or for any program on UDP port 6454, counts.
int rules_for(INetFwPolicy2 *policy, long profile, const std::wstring &program)
{
    INetFwRules *rules = nullptr;
    if (FAILED(policy->get_Rules(&rules)) || !rules)
        return 0;
    IUnknown *unknown = nullptr;
    IEnumVARIANT *items = nullptr;
    int verdict = 0;
    if (SUCCEEDED(rules->get__NewEnum(&unknown)) && unknown &&
        SUCCEEDED(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void **>(&items)))) {
        VARIANT item;
        VariantInit(&item);
        while (items->Next(1, &item, nullptr) == S_OK) {
            INetFwRule *rule = nullptr;
            if (item.vt == VT_DISPATCH && item.pdispVal &&
                SUCCEEDED(item.pdispVal->QueryInterface(IID_INetFwRule, reinterpret_cast<void **>(&rule)))) {
                VARIANT_BOOL enabled = VARIANT_FALSE;
                NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
                NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
                long profiles = 0, protocol = 0;
                BSTR application = nullptr, ports = nullptr;
                rule->get_Enabled(&enabled);
                rule->get_Direction(&direction);
                rule->get_Action(&action);
                rule->get_Profiles(&profiles);
                rule->get_Protocol(&protocol);
                rule->get_ApplicationName(&application);
                rule->get_LocalPorts(&ports);
                const bool ours = application && lower(application) == program;
                const bool port = !application && protocol == NET_FW_IP_PROTOCOL_UDP && ports && std::wcscmp(ports, L"6454") == 0;
                if (enabled == VARIANT_TRUE && direction == NET_FW_RULE_DIR_IN && (profiles & profile) && (ours || port))
                    verdict = action == NET_FW_ACTION_BLOCK ? -1 : (verdict == 0 ? 1 : verdict);
                SysFreeString(application);
                SysFreeString(ports);
                rule->Release();
            }
            VariantClear(&item);
        }
        items->Release();
    }
    if (unknown)
        unknown->Release();
    rules->Release();
    return verdict;
}

}  // namespace

FirewallCheck check_firewall()
{
    FirewallCheck check;
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INetFwPolicy2 *policy = nullptr;
    const HRESULT created = CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                             reinterpret_cast<void **>(&policy));
    long profiles = 0;
    const HRESULT read = SUCCEEDED(created) && policy ? policy->get_CurrentProfileTypes(&profiles) : created;
    if (FAILED(read) || !policy) {
        char text[96];
        std::snprintf(text, sizeof text, "could not be checked: the Windows Firewall API answered 0x%08lx",
                      static_cast<unsigned long>(FAILED(read) ? read : E_FAIL));
        check.text = text;
    } else {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        const std::wstring program = lower(path);
        check.checked = true;
        check.profiles = profile_names(profiles);
        std::string allowed, blocked;
        for (long bit : {long(NET_FW_PROFILE2_DOMAIN), long(NET_FW_PROFILE2_PRIVATE), long(NET_FW_PROFILE2_PUBLIC)}) {
            if (!(profiles & bit))
                continue;
            VARIANT_BOOL enabled = VARIANT_TRUE;
            NET_FW_ACTION inbound = NET_FW_ACTION_BLOCK;
            policy->get_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(bit), &enabled);
            policy->get_DefaultInboundAction(static_cast<NET_FW_PROFILE_TYPE2>(bit), &inbound);
            const int rule = rules_for(policy, bit, program);
            // Replies to lumiload's broadcasts are unsolicited inbound
            // datagrams: without a rule the default action decides.
            const bool passes = enabled != VARIANT_TRUE || rule > 0 || (rule == 0 && inbound == NET_FW_ACTION_ALLOW);
            (passes ? allowed : blocked) += (passes ? allowed : blocked).empty() ? profile_names(bit) : ", " + profile_names(bit);
        }
        check.blocks = !blocked.empty();
        check.text = check.blocks ? "no inbound rule lets lumiload.exe receive in " + blocked
                                  : "lumiload.exe may receive in the active profiles (" + check.profiles + ")";
    }
    if (policy)
        policy->Release();
    if (SUCCEEDED(started))
        CoUninitialize();
    return check;
}
