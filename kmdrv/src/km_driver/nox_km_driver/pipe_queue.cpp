#include "pipe_queue.h"

#include "noxkm_log.h"

#include <new>

namespace nox {
namespace {
constexpr ULONG pool_tag = 'qxoN';
}

NTSTATUS pipe_queue::create_pipe(WDFDEVICE device, const USBD_PIPE_INFORMATION& info, pipe_queue** pipe)
{
    *pipe = nullptr;
    void* memory = ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(pipe_queue), pool_tag);
    if (memory == nullptr) {
        NOXKM_LOG(noxkm::log_error, "nox::pipe_queue::create_pipe, Failed to allocate pipe.\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *pipe = new (memory)
        pipe_queue(WdfDeviceWdmGetPhysicalDevice(device), WdfDeviceWdmGetDeviceObject(device), info);
    return STATUS_SUCCESS;
}

void pipe_queue::destroy(pipe_queue* pipe)
{
    if (pipe != nullptr) {
        pipe->~pipe_queue();
        ExFreePoolWithTag(pipe, pool_tag);
    }
}

void pipe_queue::queue_request(WDFREQUEST request)
{
    PMDL mdl = nullptr;
    NTSTATUS status = WdfRequestRetrieveOutputWdmMdl(request, &mdl);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error,
                  "nox::pipe_queue::queue_request, failed to retrieve mdl for WDFREQUEST, due to status=0x%x.\n",
                  static_cast<unsigned>(status));
        WdfRequestComplete(request, STATUS_INVALID_PARAMETER);
        return;
    }
    PVOID context = PipeRequestGetContext(request);
    if (context == nullptr) {
        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, PIPE_REQUEST_CONTEXT);
        status = WdfObjectAllocateContext(request, &attributes, &context);
        if (!NT_SUCCESS(status)) {
            context = nullptr;
        }
    }
    if (context == nullptr) {
        NOXKM_LOG(noxkm::log_error,
                  "nox::pipe_queue::queue_request, failed to fetch a transfer context object for request.\n");
        WdfRequestComplete(request, STATUS_INSUFFICIENT_RESOURCES);
        return;
    }
    auto* transfer = static_cast<PPIPE_REQUEST_CONTEXT>(context);
    transfer->slot = nullptr;
    pipe_.push(request, mdl, transfer);
}

} // namespace nox
