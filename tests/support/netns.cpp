#include "netns.h"

#include <unistd.h>

#include <atomic>

#include "process.h"

static std::atomic<int> next_pair{0};

std::string ip_program()
{
    for (const char *path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return "ip";
}

std::string netns_unavailable_reason()
{
    if (geteuid() != 0)
        return "network namespace tests need root (ip netns); run them as root, as CI does";
    std::string probe = "lumi-" + std::to_string(getpid()) + "-probe";
    ProcessResult add = run_program(ip_program(), {"netns", "add", probe}, 10);
    if (add.status != 0)
        return "'ip netns add' failed: " + add.err;
    run_program(ip_program(), {"netns", "del", probe}, 10);
    return "";
}

NetnsPair::~NetnsPair()
{
    destroy();
}

bool NetnsPair::batch(const std::string &ns, const std::vector<std::string> &commands)
{
    std::string dir = make_temp_dir();
    std::string text;
    for (const std::string &command : commands)
        text += command + "\n";
    std::string path = dir + "/ip.batch";
    bool ok = write_text_file(path, text);
    ProcessResult result = run_program(ip_program(), {"-n", ns, "-batch", path}, 60);
    remove_tree(dir);
    if (!ok || result.status != 0) {
        error = "ip -n " + ns + " -batch failed: " + result.err;
        return false;
    }
    return true;
}

bool NetnsPair::create(const std::vector<std::string> &controller_addresses,
                       const std::vector<std::string> &fixture_addresses,
                       const std::vector<std::string> &extra_controller_routes)
{
    std::string base = "lumi-" + std::to_string(getpid()) + "-" + std::to_string(next_pair++);
    controller = base + "-c";
    fixtures = base + "-f";
    const std::string ip = ip_program();
    for (const std::string &ns : {controller, fixtures}) {
        ProcessResult result = run_program(ip, {"netns", "add", ns}, 10);
        if (result.status != 0) {
            error = "ip netns add " + ns + " failed: " + result.err;
            destroy();
            return false;
        }
        made_ = true;
    }
    const std::string controller_mac = "02:00:00:00:00:01";
    const std::string fixtures_mac = "02:00:00:00:00:02";
    ProcessResult link = run_program(ip, {"-n", controller, "link", "add", "veth0", "address", controller_mac, "type",
                                          "veth", "peer", "name", "veth1", "address", fixtures_mac, "netns", fixtures},
                                     10);
    if (link.status != 0) {
        error = "veth pair failed: " + link.err;
        destroy();
        return false;
    }
    std::vector<std::string> c = {"link set lo up"};
    for (const std::string &cidr : controller_addresses)
        c.push_back("addr add " + cidr + " brd + dev veth0");
    c.push_back("link set veth0 up");
    for (const std::string &route : extra_controller_routes)
        c.push_back("route add " + route + " dev veth0");
    std::vector<std::string> f = {"link set lo up"};
    for (const std::string &cidr : fixture_addresses)
        f.push_back("addr add " + cidr + " brd + dev veth1");
    f.push_back("link set veth1 up");
    for (const std::string &cidr : controller_addresses)
        f.push_back("neigh replace " + cidr.substr(0, cidr.find('/')) + " lladdr " + controller_mac +
                    " dev veth1 nud permanent");
    if (!batch(controller, c) || !batch(fixtures, f)) {
        destroy();
        return false;
    }
    return true;
}

bool NetnsPair::add_fixture_addresses(const std::vector<std::string> &cidrs)
{
    std::vector<std::string> commands;
    for (const std::string &cidr : cidrs)
        commands.push_back("addr add " + cidr + " brd + dev veth1");
    return batch(fixtures, commands);
}

void NetnsPair::destroy()
{
    if (!made_)
        return;
    for (const std::string &ns : {controller, fixtures})
        run_program(ip_program(), {"netns", "del", ns}, 10);
    made_ = false;
}

std::vector<std::string> NetnsPair::in_controller() const
{
    return {ip_program(), "netns", "exec", controller};
}

std::vector<std::string> NetnsPair::in_fixtures() const
{
    return {ip_program(), "netns", "exec", fixtures};
}
