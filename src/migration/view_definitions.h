// The fifteen views that the server queries, in the order in which the view
// re-creation drops them and creates them again. The statements are written
// in the desktop engine's dialect (Yes/No, DISTINCTROW, bracketed names,
// DROP TABLE for a view); the database layer translates it.
#pragma once

#include <array>
#include <cstddef>

namespace qv::migration {

struct ViewDefinition {
  const char* name;             // the name the view is created under
  const char* dropStatement;    // removes the view as older installations name it
  const char* createStatement;  // the current definition
};

inline constexpr std::size_t kCurrentViewCount = 15;

extern const std::array<ViewDefinition, kCurrentViewCount> kCurrentViews;

}  // namespace qv::migration
