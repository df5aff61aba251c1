// The Service Control Manager: stop polls, states, access rights, the
// configuration query with its size probe.
#include "support/machine_fixture.h"

#include "platform/winsim/api_support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using winsim::test::MachineTest;

class Services : public MachineTest {
protected:
    struct Open {
        SC_HANDLE manager = nullptr, service = nullptr;
        ~Open() {
            if (service) CloseServiceHandle(service);
            if (manager) CloseServiceHandle(manager);
        }
    };

    void open(Open& o, DWORD access = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP,
              const wchar_t* name = L"SablewickRemote") {
        o.manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        ASSERT_NE(o.manager, nullptr);
        o.service = OpenServiceW(o.manager, name, access);
    }

    DWORD poll(SC_HANDLE s) {
        SERVICE_STATUS_PROCESS st{};
        DWORD needed = 0;
        EXPECT_TRUE(QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&st), sizeof st, &needed));
        return st.dwCurrentState;
    }
};

TEST_F(Services, StopTakesTheScriptedNumberOfPolls) {
    const struct {
        const char* name;
        nlohmann::json stop_polls;
        unsigned polls_to_stop;  // 0: not within 30
    } cases[] = {
        {"stops at once", 0, 1}, {"stops at the first poll", 1, 1}, {"stops at the third poll", 3, 3},
        {"never stops", "never", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = winsim::Machine::default_profile();
        p["services"]["SablewickRemote"]["stop_polls"] = c.stop_polls;
        reset(p);
        Open o;
        open(o);
        SERVICE_STATUS st{};
        ASSERT_TRUE(ControlService(o.service, SERVICE_CONTROL_STOP, &st));
        unsigned stopped_at = 0;
        for (unsigned polls = 1; polls <= 30 && !stopped_at; ++polls)
            if (poll(o.service) == SERVICE_STOPPED) stopped_at = polls;
        EXPECT_EQ(stopped_at, c.polls_to_stop);
        // Starting succeeds once it has stopped; while it is still stopping
        // the manager answers as for a running service.
        EXPECT_EQ(StartServiceW(o.service, 0, nullptr), stopped_at ? TRUE : FALSE);
        if (!stopped_at) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
        }
    }
}

TEST_F(Services, StatesAndRightsAnswerAsWindows) {
    {
        Open o;
        open(o);
        EXPECT_FALSE(StartServiceW(o.service, 0, nullptr));  // running
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
        SERVICE_STATUS st{};
        ASSERT_TRUE(ControlService(o.service, SERVICE_CONTROL_STOP, &st));
        EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
        EXPECT_FALSE(ControlService(o.service, SERVICE_CONTROL_STOP, &st));  // still stopping
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
        while (poll(o.service) != SERVICE_STOPPED) {
        }
        EXPECT_FALSE(ControlService(o.service, SERVICE_CONTROL_STOP, &st));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    }
    {
        Open o;
        open(o, SERVICE_QUERY_STATUS);  // no right to stop
        SERVICE_STATUS st{};
        EXPECT_FALSE(ControlService(o.service, SERVICE_CONTROL_STOP, &st));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    {
        Open o;
        open(o, SERVICE_QUERY_CONFIG, L"NoSuchService");
        EXPECT_EQ(o.service, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    }
    // Without an administrator's token, stopping and starting are refused at
    // the open; reading the configuration is not.
    machine().security.process_token = winsim::TokenKind::filtered_administrator;
    {
        Open o;
        open(o);
        EXPECT_EQ(o.service, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        o.service = OpenServiceW(o.manager, L"sablewickremote", SERVICE_QUERY_CONFIG);
        EXPECT_NE(o.service, nullptr);
    }
    expect_no_leaks();
}

TEST_F(Services, ConfigurationWithItsSizeProbe) {
    Open o;
    open(o, SERVICE_QUERY_CONFIG);
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceConfigW(o.service, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGW));

    std::vector<std::uint64_t> storage(needed / 8 + 1);
    auto* cfg = reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(storage.data());
    EXPECT_FALSE(QueryServiceConfigW(o.service, cfg, needed - 1, &needed));
    ASSERT_TRUE(QueryServiceConfigW(o.service, cfg, needed, &needed));
    const std::wstring expected =
        L"\"" + machine().host_wpath("C:\\Program Files\\Sablewick\\Sablewick Remote\\SablewickRemote.exe") + L"\"";
    ASSERT_NE(cfg->lpBinaryPathName, nullptr);
    EXPECT_EQ(std::wstring(cfg->lpBinaryPathName), expected);
    // Every string lies inside the caller's buffer.
    const auto* begin = reinterpret_cast<const BYTE*>(cfg);
    for (LPWSTR s : {cfg->lpBinaryPathName, cfg->lpLoadOrderGroup, cfg->lpDependencies, cfg->lpServiceStartName,
                     cfg->lpDisplayName}) {
        const auto* at = reinterpret_cast<const BYTE*>(s);
        EXPECT_TRUE(at >= begin + sizeof *cfg && at < begin + needed);
    }
    EXPECT_EQ(std::wstring(cfg->lpServiceStartName), L"LocalSystem");

    // A registration without a path answers with a null pointer.
    machine().services.find("SablewickRemote")->binary_path.reset();
    ASSERT_TRUE(QueryServiceConfigW(o.service, cfg, needed, &needed));
    EXPECT_EQ(cfg->lpBinaryPathName, nullptr);
}

TEST_F(Services, HandlesLeftOpenOrClosedTwiceAreSeen) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"SablewickRemote", SERVICE_QUERY_CONFIG);
    auto leaks = machine().leaks();
    ASSERT_EQ(leaks.size(), 2u);
    EXPECT_NE(leaks[1].find("service SablewickRemote"), std::string::npos);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_FALSE(CloseServiceHandle(manager));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(machine().leaks().empty());
    ASSERT_EQ(machine().problems().size(), 1u);
    EXPECT_NE(machine().problems()[0].find("double CloseServiceHandle"), std::string::npos);
}

}  // namespace
