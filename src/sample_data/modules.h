// The eight sample-data modules, one per groupware area. Each adds its fixed
// records in one transaction and returns true when they were committed,
// false when everything was rolled back.
#pragma once

#include "sample_data/frame.h"

namespace qv::sample_data {

namespace Contact {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}
namespace Schedule {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}
namespace Announcement {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}
namespace ToDo {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}
namespace Forum {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}
namespace ProjectM {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}
namespace Resource {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}
namespace Document {
bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args);
}

}  // namespace qv::sample_data
