#pragma once
#include "support/scoped_temp_dir.h"
