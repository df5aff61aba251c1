// Compiled once for every test program (tests/CMakeLists.txt): the fixture
// with the whole simulated machine, GoogleTest, and the third-party headers
// the product's own headers pull in. Without it each test file spends
// seconds parsing the same headers. A test still includes what it uses.
#pragma once

#include "support/machine_fixture.h"

#include <boost/filesystem/path.hpp>
#include <boost/optional.hpp>
#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/system/system_error.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>
