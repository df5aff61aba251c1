// The installer's command-line texts: the temporary package's name and the
// parameter string the Windows Installer receives.
#include "installer_run.h"

#include <boost/uuid/nil_generator.hpp>
#include <boost/uuid/string_generator.hpp>
#include <gtest/gtest.h>

#include <string>

namespace {

using sablewick::BuildMsiParameters;
using sablewick::snet::types::OneTimeSettings;

TEST(InstallerTexts, TempPackageName) {
    EXPECT_EQ(sablewick::TempMsiFileName(4242, 123456), L"sablewick_remote_4242_123456.msi");
    // Both numbers are unsigned 32-bit: the longest name fits the buffer.
    EXPECT_EQ(sablewick::TempMsiFileName(0xFFFFFFFFu, 0xFFFFFFFFu),
              L"sablewick_remote_4294967295_4294967295.msi");
}

TEST(InstallerTexts, ParameterString) {
    const std::filesystem::path log = L"/data/Sablewick Remote/SablewickRemote Msi/log_v1.0.45.1871.log";
    const OneTimeSettings none{false, boost::uuids::nil_uuid(), 0};
    const OneTimeSettings onetime{true,
                                  boost::uuids::string_generator()(
                                      std::string("{8E41C7D2-53B0-4A6F-B9E1-2D7C04F5A913}")),
                                  77};
    const std::wstring quotedLog = L"\"" + log.wstring() + L"\"";

    EXPECT_EQ(BuildMsiParameters(false, log, false, none),
              L" /qb /norestart /l*v " + quotedLog
                  + L" TRAY_MODE=install ONETIME_MODE=manytimes"
                    L" ONETIME_ID=00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(BuildMsiParameters(true, log, true, onetime),
              L" /qn /norestart /l*v " + quotedLog
                  + L" TRAY_MODE=notray ONETIME_MODE=onetime"
                    L" ONETIME_ID=8e41c7d2-53b0-4a6f-b9e1-2d7c04f5a913");
}

}  // namespace
