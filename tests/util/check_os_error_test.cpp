#include "support/machine_fixture.h"

#include "kyv/except/windows_category.hpp"
#include "sablewick/util/Win/KyvExcept.hpp"

#include <boost/exception/get_error_info.hpp>
#include <boost/system/system_error.hpp>
#include <boost/throw_exception.hpp>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

class CheckOSErrorTest : public winsim::test::MachineTest {};

TEST_F(CheckOSErrorTest, SuccessReadsNothingAndThrowsNothing) {
    machine().set_last_error(ERROR_ACCESS_DENIED);
    EXPECT_NO_THROW(CheckOSError(TRUE));
    EXPECT_NO_THROW(CheckOSError(-1));
    EXPECT_EQ(calls("GetLastError").size(), 0u);
}

TEST_F(CheckOSErrorTest, FailureThrowsTheLastErrorInTheWindowsCategory) {
    struct Case {
        DWORD error;
        const char* what;
    };
    const Case cases[] = {
        {ERROR_ACCESS_DENIED, "Access is denied [windows:5]"},
        {ERROR_CANCELLED, "The operation was canceled by the user [windows:1223]"},
        // A failure that left no error behind is still thrown.
        {ERROR_SUCCESS, "The operation completed successfully [windows:0]"},
    };
    for (const auto& c : cases) {
        machine().set_last_error(c.error);
        try {
            CheckOSError(FALSE);
            ADD_FAILURE() << "no exception for " << c.error;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.what);
            const auto* system = dynamic_cast<const boost::system::system_error*>(&e);
            ASSERT_NE(system, nullptr);
            EXPECT_EQ(system->code().value(), static_cast<int>(c.error));
            EXPECT_EQ(&system->code().category(), &kyv::except::windows_category());
        }
    }
}

// Where the failed call was checked travels beside the text, not in it: the
// caller's file, line and function, not CheckOSError's own.
TEST_F(CheckOSErrorTest, FailureNamesTheCallersPlace) {
    machine().set_last_error(ERROR_ACCESS_DENIED);
    const int line = __LINE__ + 2;
    try {
        CheckOSError(FALSE);
        FAIL() << "no exception";
    } catch (const boost::system::system_error& e) {
        EXPECT_STREQ(e.what(), "Access is denied [windows:5]");
        const auto* boost_part = dynamic_cast<const boost::exception*>(&e);
        ASSERT_NE(boost_part, nullptr);
        const char* const* file = boost::get_error_info<boost::throw_file>(*boost_part);
        const int* thrown_line = boost::get_error_info<boost::throw_line>(*boost_part);
        const char* const* function = boost::get_error_info<boost::throw_function>(*boost_part);
        ASSERT_TRUE(file && thrown_line && function);
        const std::string file_name = std::filesystem::path(*file).filename().string();
        EXPECT_EQ(file_name, "check_os_error_test.cpp") << *file;
        EXPECT_EQ(*thrown_line, line);
        EXPECT_NE(std::string(*function).find("TestBody"), std::string::npos) << *function;
    }
}

}  // namespace
