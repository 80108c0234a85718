// The update stage of a run: which of the discovered fixtures get the
// image, their uploads, one after another or in parallel (-p) from one
// socket, the check of each after its restart (-c), the limit on failures
// (-k) and the summary (-p; as CSV with -o).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "discovery.h"
#include "library.h"
#include "options.h"
#include "packets.h"

// Updates the `fixtures` that need an image (discovery's list, in its
// order) from a socket bound to `source`, each with its own of `images`
// (one image, or a library's); with -c it also hears replies sent to
// `broadcast`, as discovery does. The addresses of `conflicts` that an
// image was for are never sent to; they are named and fail the run. With
// -n the first fixtures are updated and confirmed before the others, which
// start only if all of them succeeded. `summary` is the open CSV file of
// -o, or nullptr. Returns the run's exit status: 0 only when every fixture
// of the run took its image (and reported its version, with -c), or in a
// test run.
int run_update_stage(const RunSettings &settings, const std::vector<LibraryImage> &images, uint32_t source,
                     uint32_t broadcast, const std::vector<FixtureRecord> &fixtures,
                     const std::vector<AddressConflict> &conflicts, FILE *summary);
