#include "run.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "discovery.h"
#include "library.h"
#include "locate.h"
#include "netcheck.h"
#include "netif.h"
#include "options.h"
#include "plan.h"
#include "report.h"
#include "resume.h"
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
static int run_network_stages(const RunSettings &settings, const std::vector<LibraryImage> &images, FILE *summary)
{
    PollTarget target {};
    if (!choose_poll_target(settings, &target))
        return 1;
    report_interface(target.source, target.netmask, target.destination);
    std::vector<FixtureRecord> fixtures, heard;
    std::vector<AddressConflict> conflicts;
    if (!run_poll(target, library_headers(images), settings.ignore_version, &fixtures, &conflicts, &heard)) {
        report_error("run_poll failed");
        return 1;
    }
    if (images.empty())
        return 1;  // a poll-only run never counts as an update
    // A model the library holds two different images of gets neither, and
    // the run says so in its status as well as in the plan.
    bool ambiguous = false;
    if (!settings.library.empty()) {
        const std::vector<PlanLine> plan = make_plan(images, heard, conflicts, settings.ignore_version);
        report_library_plan(plan);
        for (const PlanLine &line : plan) {
            const auto &only = settings.only;
            ambiguous = ambiguous || (line.image_ambiguous &&
                                      (only.empty() || std::find(only.begin(), only.end(), line.address) != only.end()));
        }
    }
    const uint32_t broadcast = target.broadcast ? target.broadcast : target.source | ~target.netmask;
    const int status = run_update_stage(settings, images, target.source, broadcast, fixtures, conflicts, summary);
    return ambiguous ? 1 : status;
}

// What the run offers: the image of -f, the library of -l, or nothing (a
// listing). False when it cannot be used, after saying why.
static bool load_images(const RunSettings &settings, std::vector<LibraryImage> *images)
{
    if (!settings.library.empty())
        return load_library(settings.library, images);
    if (!settings.alf_given) {
        report_no_alf_file();
        return true;
    }
    images->emplace_back();
    LibraryImage &image = images->back();
    image.file = settings.alf_path;
    if (!load_alf_image(settings.alf_path.c_str(), &image.header, &image.bytes))
        return false;
    report_separator();
    return true;
}

// The run after its options: image, summary file, network. Returns the
// exit status.
static int run_stages(RunSettings settings)
{
    if (!settings.bad_value.empty()) {
        report_error("invalid option value: %s", settings.bad_value.c_str());
        return 1;
    }
    if (settings.test_run)
        report_test_run_mode();

    if (settings.locate || settings.network_check) {
        if (!net_startup()) {
            report_winsock_failed();
            return 1;
        }
        const int status = settings.locate ? run_locate(settings) : run_network_check(settings);
        net_cleanup();
        return status;
    }
    std::vector<LibraryImage> images;
    if (!load_images(settings, &images))
        return 1;
    if (!settings.resume_path.empty()) {
        if (!read_unfinished_fixtures(settings.resume_path, &settings.only))
            return 1;
        report_resume(settings.resume_path, settings.only.size());
        if (settings.only.empty())
            return 0;  // every fixture of that run was updated: nothing is left to do
    }

    int status = 1;
    bool network_started = false;
    // Opened before any fixture is touched, so a path that cannot be written
    // costs nothing; it holds the header line until the summary follows.
    FILE *summary = nullptr;
    if (!settings.summary_path.empty()) {
        summary = std::fopen(settings.summary_path.c_str(), "w");
        if (!summary || !write_summary_csv_header(summary, !settings.library.empty())) {
            report_error("failed to open summary file at %s", settings.summary_path.c_str());
            goto done;
        }
    }
    network_started = net_startup();
    if (network_started)
        status = run_network_stages(settings, images, summary);
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
