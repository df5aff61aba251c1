// Memory and COM: LocalAlloc/LocalFree, the process heap, CoTaskMem* and
// the apartment count of CoInitializeEx/CoUninitialize.
#include "platform/winsim/api_support.h"

#include <thread>

using winsim::ApiCall;
using winsim::arg_ptr;
using winsim::Memory;

namespace {
const HRESULT kRpcChangedMode = static_cast<HRESULT>(0x80010106u);
// The process heap: a handle of its own, never in the kernel handle table.
char g_process_heap;
}  // namespace

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    ApiCall call("LocalAlloc", {{"uFlags", uFlags}, {"uBytes", uBytes}});
    if (call.fault) return call.fail(HLOCAL{nullptr});
    void* p = call.m.memory.allocate(Memory::Allocator::local, uBytes, (uFlags & LMEM_ZEROINIT) != 0);
    if (!p) return call.fail(HLOCAL{nullptr}, ERROR_NOT_ENOUGH_MEMORY);
    return call.done(HLOCAL{p});
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (!winsim::Machine::current_or_null()) return nullptr;
    ApiCall call("LocalFree", {{"hMem", arg_ptr(hMem)}});
    if (!hMem) return call.done(HLOCAL{nullptr});
    // Success is a null result; a failure hands the block back.
    const bool freed = call.m.memory.free(Memory::Allocator::local, hMem);
    if (call.fault) return call.fail(hMem);  // see release_fault_note in api_support.h
    if (!freed) return call.fail(hMem, ERROR_INVALID_HANDLE);
    return call.done(HLOCAL{nullptr});
}

HANDLE WINAPI GetProcessHeap(void) {
    ApiCall call("GetProcessHeap");
    if (call.fault) return call.fail(HANDLE{nullptr});
    return call.done(HANDLE{&g_process_heap});
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
    ApiCall call("CoTaskMemAlloc", {{"cb", cb}});
    if (call.fault) return call.fail_status(LPVOID{nullptr});
    return call.done(LPVOID{call.m.memory.allocate(Memory::Allocator::cotaskmem, cb, false)});
}

void WINAPI CoTaskMemFree(LPVOID pv) {
    if (!winsim::Machine::current_or_null()) return;
    ApiCall call("CoTaskMemFree", {{"pv", arg_ptr(pv)}});
    if (pv) call.m.memory.free(Memory::Allocator::cotaskmem, pv);
    call.done(0, nullptr);
}

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    ApiCall call("CoInitializeEx", {{"pvReserved", arg_ptr(pvReserved)}, {"dwCoInit", dwCoInit}});
    if (call.fault) return call.fail_status(call.fault->hresult());
    auto& st = call.m.kernel.com[std::this_thread::get_id()];
    if (st.count > 0 && (st.mode & COINIT_APARTMENTTHREADED) != (dwCoInit & COINIT_APARTMENTTHREADED))
        return call.fail_status(kRpcChangedMode);
    if (st.count == 0) st.mode = dwCoInit;
    return call.done(++st.count == 1 ? S_OK : S_FALSE);
}

void WINAPI CoUninitialize(void) {
    if (!winsim::Machine::current_or_null()) return;
    ApiCall call("CoUninitialize");
    auto& k = call.m.kernel;
    auto& st = k.com[std::this_thread::get_id()];
    if (st.count == 0)
        k.problems.push_back("CoUninitialize without a matching successful CoInitializeEx");
    else
        --st.count;
    call.done(0, nullptr);
}

}  // extern "C"
