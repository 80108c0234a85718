// The plan of a library run (-l): for every fixture discovery heard, the
// image it gets and what the run will do with it, before any byte is sent.
#pragma once

#include <vector>

#include "discovery.h"
#include "library.h"
#include "report.h"

// One line per fixture of `heard`, in its order. A fixture at an address
// that several devices answer from, or that two different images of the
// best version fit, is a conflict; one that no image fits has none.
std::vector<PlanLine> make_plan(const std::vector<LibraryImage> &images, const std::vector<FixtureRecord> &heard,
                                const std::vector<AddressConflict> &conflicts, bool ignore_version);
