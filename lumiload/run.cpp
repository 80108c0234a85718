#include "run.h"

#include <cstdio>
#include <vector>

#include "alf.h"
#include "discovery.h"
#include "netif.h"
#include "options.h"
#include "report.h"
#include "socket.h"
#include "stop_input.h"
#include "update.h"

static const uint32_t ART_NET_NETMASK = 0x000000FFu;  // 255.0.0.0 in network byte order
static const uint32_t NO_ADDRESS = 0xFFFFFFFFu;

// The broadcast address of the interface that holds `source`, where a
// fixture polled alone may answer; without it, the Art-Net network's (a
// /8), and nothing for a socket bound to any address, which hears
// broadcasts anyway.
static uint32_t source_broadcast(uint32_t source)
{
    if (source == 0)
        return 0;
    InterfaceEntry *list = nullptr;
    SourceInterface chosen {};
    const bool found = getifaddrs(&list) == 0 && match_source_interface(list, source, &chosen);
    free_interface_list(list);
    return found ? chosen.broadcast : source | ~ART_NET_NETMASK;
}

// Works out where to poll: the fixture named with -d, or else the
// interface chosen by -s or by the Art-Net network. False when none fits.
static bool choose_poll_target(const RunSettings &settings, PollTarget *target)
{
    if (settings.destination != 0 && settings.destination != NO_ADDRESS) {
        *target = PollTarget {settings.source, ART_NET_NETMASK, settings.destination, true};
        target->broadcast = source_broadcast(settings.source);
        return true;
    }
    SourceInterface chosen {};
    if (!choose_source_interface(settings.source, &chosen)) {
        report_error("Unable to find matching network interface");
        return false;
    }
    *target = PollTarget {chosen.address, chosen.netmask, chosen.broadcast, false};
    return true;
}

// Discovery and, in update runs, the update stage. Returns the exit status.
static int run_network_stages(const RunSettings &settings, const AlfHeader &header, const std::vector<uint8_t> &image,
                              FILE *summary)
{
    PollTarget target {};
    if (!choose_poll_target(settings, &target))
        return 1;
    report_interface(target.source, target.netmask, target.destination);
    std::vector<FixtureRecord> fixtures;
    std::vector<AddressConflict> conflicts;
    if (!run_poll(target, header, settings.ignore_version, &fixtures, &conflicts)) {
        report_error("run_poll failed");
        return 1;
    }
    if (!settings.alf_given)
        return 1;  // a poll-only run never counts as an update
    const uint32_t broadcast = target.broadcast ? target.broadcast : target.source | ~target.netmask;
    return run_update_stage(settings, header, image, target.source, broadcast, fixtures, conflicts, summary);
}

// The run after its options: image, summary file, network. Returns the
// exit status.
static int run_stages(const RunSettings &settings)
{
    if (!settings.bad_value.empty()) {
        report_error("invalid option value: %s", settings.bad_value.c_str());
        return 1;
    }
    if (settings.test_run)
        report_test_run_mode();

    AlfHeader header;
    std::vector<uint8_t> image;
    if (settings.alf_given) {
        if (!load_alf_image(settings.alf_path.c_str(), &header, &image))
            return 1;
        report_separator();
    } else {
        report_no_alf_file();
    }

    int status = 1;
    bool network_started = false;
    // Opened before any fixture is touched, so a path that cannot be written
    // costs nothing; it holds the header line until the summary follows.
    FILE *summary = nullptr;
    if (!settings.summary_path.empty()) {
        summary = std::fopen(settings.summary_path.c_str(), "w");
        if (!summary || !write_summary_csv_header(summary)) {
            report_error("failed to open summary file at %s", settings.summary_path.c_str());
            goto done;
        }
    }
    network_started = net_startup();
    if (network_started)
        status = run_network_stages(settings, header, image, summary);
    else
        report_winsock_failed();

done:
    if (summary && std::fclose(summary) != 0 && status == 0) {
        report_error("failed to write summary file at %s", settings.summary_path.c_str());
        status = 1;
    }
    if (network_started)
        net_cleanup();
    return status;
}

int run_lumiload(int argc, char *argv[])
{
    RunSettings settings;
    if (!parse_options(argc, argv, &settings)) {
        report_banner();
        report_help();
        return 0;
    }
    // Only a run asked to listen reads its standard input.
    if (settings.stop_on_input)
        listen_for_stop_line();
    report_begin(settings.parallel > 0, settings.json, clock_us());
    report_banner();
    const int status = run_stages(settings);
    report_end(status);
    return status;
}
