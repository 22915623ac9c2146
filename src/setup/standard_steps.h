// The steps of a real run: the eight sample-data modules and the four
// migration steps, in their order.
#pragma once

#include "setup/run_setup.h"

namespace qv::setup {

const SetupSteps& StandardSteps();

}  // namespace qv::setup
