// The client-library binding: loading by file name, the version rules, the
// optional entry points, the busy mark and the process-wide registry.
#include "db/ClientLibrary.h"
#include "db/FIBDatabase.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace ostrakel {
namespace {

// A control function exported by a loaded stand-in client.
template <class Fn> Fn FakeControl(const char* library, const char* name) {
    void* handle = ::dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    auto fn = reinterpret_cast<Fn>(::dlsym(handle, name));
    ::dlclose(handle); // the binding keeps its own reference
    return fn;
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

TEST(ClientLibrary, LoadsTheFirebirdClientAndReadsItsVersion) {
    auto lib = GetClientLibrary(kDefaultLibraryName);
    ASSERT_TRUE(lib->LibraryLoaded());
    EXPECT_EQ(lib->LibraryName(), "libfbclient.so.2");
    EXPECT_GE(lib->ClientVersion(), 3);

    char version[256] = {};
    lib->isc_get_client_version(version);
    const std::string expected =
        std::to_string(lib->ClientVersion()) + "." + std::to_string(lib->ClientMinorVersion());
    EXPECT_NE(std::string(version).find(expected), std::string::npos) << version;

    // A call reaches the library's own function.
    const ISC_SCHAR bytes[] = {0x01, 0x02};
    EXPECT_EQ(lib->isc_vax_integer(bytes, 2), 0x0201);
}

TEST(ClientLibrary, OneBindingPerExactFileName) {
    auto first = GetClientLibrary(FAKEFB_V5);
    EXPECT_EQ(GetClientLibrary(FAKEFB_V5), first);

    // The same file under another spelling is another name.
    std::string other = FAKEFB_V5;
    other.insert(other.rfind('/'), "/.");
    auto second = GetClientLibrary(other);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->LibraryName(), other);
}

TEST(ClientLibrary, MissingFileRaisesPlainErrorAndRegistersNothing) {
    // An empty name must not load the program itself.
    for (const std::string name : {"libostrakel-nonexistent.so.9", "libostrakel-nonexistent.so.9", ""}) {
        try {
            GetClientLibrary(name);
            ADD_FAILURE() << "loaded \"" << name << "\"";
        } catch (const EOSError&) {
            ADD_FAILURE() << "a missing file is a plain error";
        } catch (const EDatabaseError&) {
            ADD_FAILURE() << "a missing file is a plain error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Can't load library " + name + " ");
        }
    }
}

TEST(ClientLibrary, MissingRequiredEntryPointRaisesSystemErrorAndUnloads) {
    try {
        GetClientLibrary(FAKEFB_NOREQUIRED);
        FAIL() << "loaded a library without isc_dsql_prepare";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode, ENOSYS);
        EXPECT_EQ(e.Message(),
                  "System Error.  Code: " + std::to_string(ENOSYS) + ".\r\n" + SysErrorMessage(ENOSYS));
    }
    EXPECT_EQ(::dlopen(FAKEFB_NOREQUIRED, RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the half-built binding stays loaded";
}

TEST(ClientLibrary, ClientWithoutRollbackRetainingIsVersionFiveWithoutServiceCalls) {
    auto lib = GetClientLibrary(FAKEFB_V5);
    EXPECT_EQ(lib->ClientVersion(), 5);
    EXPECT_EQ(lib->ClientMinorVersion(), 0);

    // The file exports the service and SQL date calls, but a version 5 client
    // does not get them.
    isc_svc_handle service = 0;
    ISC_DATE date = 0;
    isc_db_handle db = 0;
    const std::vector<std::pair<const char*, std::function<void()>>> missing = {
        {"isc_rollback_retaining", [&] { lib->isc_rollback_retaining(nullptr, nullptr); }},
        {"isc_service_attach", [&] { lib->isc_service_attach(nullptr, 0, "", &service, 0, ""); }},
        {"isc_encode_sql_date", [&] { lib->isc_encode_sql_date(nullptr, &date); }},
        {"isc_portable_integer", [&] { lib->isc_portable_integer(nullptr, 0); }},
        {"isc_get_client_version", [&] { lib->isc_get_client_version(nullptr); }},
        {"fb_cancel_operation", [&] { lib->fb_cancel_operation(nullptr, &db, 0); }},
    };
    for (const auto& [name, call] : missing)
        EXPECT_EQ(MessageOf(call), std::string("Can't find procedure ") + name + " in " + FAKEFB_V5);
    EXPECT_FALSE(lib->Busy());
}

TEST(ClientLibrary, VersionQueryOverridesVersionSix) {
    auto lib = GetClientLibrary(FAKEFB_NOFBINTERPRET);
    EXPECT_EQ(lib->ClientVersion(), 2);
    EXPECT_EQ(lib->ClientMinorVersion(), 5);
    isc_svc_handle service = 0;
    EXPECT_EQ(lib->isc_service_attach(nullptr, 0, "", &service, 0, ""), 0);
    // fb_interpret is absent; calling it is the plain error.
    EXPECT_EQ(MessageOf([&] { lib->fb_interpret(nullptr, 0, nullptr); }),
              std::string("Can't find procedure fb_interpret in ") + FAKEFB_NOFBINTERPRET);
}

IIBClientLibrary* gHookLibrary = nullptr;
bool gBusyInsideCall = false;

TEST(ClientLibrary, BusyDuringEveryCallAlsoWhenItFails) {
    auto lib = GetClientLibrary(FAKEFB_V5);
    auto setHook = FakeControl<void (*)(void (*)())>(FAKEFB_V5, "fake_set_call_hook");
    ASSERT_NE(setHook, nullptr);
    gHookLibrary = lib.get();
    setHook([] { gBusyInsideCall = gHookLibrary->Busy(); });

    ISC_STATUS_ARRAY status = {};
    isc_db_handle db = 0;
    EXPECT_FALSE(lib->Busy());
    EXPECT_EQ(lib->isc_attach_database(status, 0, "x", &db, 0, nullptr), isc_io_error);
    EXPECT_TRUE(gBusyInsideCall);
    EXPECT_FALSE(lib->Busy());
    setHook(nullptr);
}

TEST(ClientLibrary, UnloadedBindingIsReloadedByTheRegistry) {
    auto lib = GetClientLibrary(FAKEFB_NOFBINTERPRET);
    lib->FreeIBLibrary();
    EXPECT_FALSE(lib->LibraryLoaded());
    EXPECT_EQ(MessageOf([&] { lib->isc_sqlcode(nullptr); }),
              std::string("Can't find procedure isc_sqlcode in ") + FAKEFB_NOFBINTERPRET);

    EXPECT_EQ(GetClientLibrary(FAKEFB_NOFBINTERPRET), lib);
    EXPECT_TRUE(lib->LibraryLoaded());
    EXPECT_EQ(lib->ClientVersion(), 2);
    EXPECT_EQ(lib->isc_sqlcode(nullptr), 0);
}

TEST(ClientLibrary, EventBlockPassesEveryName) {
    auto lib = GetClientLibrary(FAKEFB_V5);
    ISC_UCHAR* events = nullptr;
    ISC_UCHAR* results = nullptr;
    EXPECT_EQ(lib->isc_event_block(&events, &results, 3, "a", "bb", "cccc"), 7);
}

// The client is told the buffer's length in 16 bits: however long an answer is
// truncated, the buffer never grows past what that length can express.
TEST(ClientLibrary, DatabaseInfoBufferStaysWithinItsSixteenBitLength) {
    TFIBDatabase db;
    db.SetLibraryName(FAKEFB_V5);
    auto setTruncated = FakeControl<void (*)(int)>(FAKEFB_V5, "fake_set_info_truncated");
    auto requests = FakeControl<int (*)(const short**)>(FAKEFB_V5, "fake_info_requests");
    ASSERT_NE(setTruncated, nullptr);
    ASSERT_NE(requests, nullptr);
    db.AdoptHandle(1); // a handle of the stand-in, dropped on close
    setTruncated(1);
    std::string data;
    EXPECT_FALSE(db.DatabaseInfo(isc_info_attachment_id, data));
    const short* lengths = nullptr;
    const int n = requests(&lengths);
    setTruncated(0);
    ASSERT_GE(n, 2);
    ASSERT_LE(n, 16) << "the request gives up once the buffer is as long as it can be";
    for (int i = 0; i < n; ++i)
        EXPECT_GT(lengths[i], 0) << "request " << i;
    EXPECT_EQ(lengths[n - 1], 32767);
    db.Close();
}

} // namespace
} // namespace ostrakel
