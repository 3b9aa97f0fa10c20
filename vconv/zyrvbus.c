/* zyrvbus.sys: a root-enumerated bus whose children are virtual ZYR
 * converters, and the converters' firmware. Each child answers the HID
 * minidriver requests that zyrvhid.sys passes down to it; a control device,
 * \\.\ZyrVconv, plugs and unplugs converters, loads and dumps their
 * registers, sets faults and pacing and hands out the traffic record.
 *
 * The firmware does only what the converter is known to do: each read
 * request (command 2, address in byte 2) is answered by one input report
 * carrying the register's value in byte 3; a write request (command 1,
 * value in byte 3) stores the value and gets no reply. */
#include <ntifs.h>

#include "base/converter_wire.h"
#include "hid_minidriver.h"
#include "vconv_control.h"

#define TAG_KIND_BUS 0x5a425553 /* the bus's own device */
#define TAG_KIND_CHILD 0x5a434844 /* a converter */
#define TAG_KIND_CONTROL 0x5a43544c

#define REPLY_QUEUE 64
#define POOL_TAG 0x7679725a /* "Zryv" */
#define FRAME_TICKS 10000 /* one full-speed USB frame: 1 ms in 100 ns */

typedef struct {
    ULONG kind;
} Extension;

typedef struct {
    UCHAR address;
    UCHAR value;
    UCHAR following[5]; /* the registers after it, as they were */
    ULONGLONG due;
} Reply;

typedef struct {
    int plugged;
    unsigned generation; /* new device object at every plug */
    DEVICE_OBJECT *child; /* the device object the system knows */
    ULONG identity;
    UCHAR registers[256];
    LIST_ENTRY reads; /* pending read requests of hidclass */
    Reply replies[REPLY_QUEUE];
    unsigned replyHead, replyCount;
    ULONG requests;
    ZyrvFaults faults;
} Converter;

typedef struct {
    Extension base;
    Converter *converter;
    int gone; /* unplugged: every request fails */
    unsigned slot, generation;
} ChildExtension;

static KSPIN_LOCK lock;
static Converter converters[ZYRV_MAX_CONVERTERS];
static DRIVER_OBJECT *driverObject;
static DEVICE_OBJECT *busDevice, *busLower, *busPhysical, *controlDevice;
static KEVENT wake;
static volatile LONG stopping;
static HANDLE workerThread;
static int pacing = 1;
static ZyrvTrafficEntry traffic[ZYRV_TRAFFIC_CAPACITY];
static ULONG trafficTotal;

static const WCHAR controlName[] = L"\\Device\\ZyrVconv";
static const WCHAR controlLink[] = L"\\DosDevices\\ZyrVconv";

static ULONG PayloadLength(const Converter *c)
{
    return c->identity == ZYRV_IDENTITY_REPORTS_16 ? 16 : ZYR_REPORT_PAYLOAD;
}

/* The converter's report descriptor; the report counts are set per
 * converter (a 16-byte identity). */
static const UCHAR reportDescriptorTemplate[] = {ZYR_REPORT_DESCRIPTOR_BYTES};

/* Now, in 100 ns units. The system time, not the interrupt time: some
 * kernels update the latter only now and then. */
static ULONGLONG Now(void)
{
    LARGE_INTEGER t;
    KeQuerySystemTime(&t);
    return (ULONGLONG)t.QuadPart;
}

static void Record(unsigned slot, UCHAR direction, UCHAR command, UCHAR address, UCHAR value)
{
    ZyrvTrafficEntry *e = &traffic[trafficTotal % ZYRV_TRAFFIC_CAPACITY];
    ULONGLONG now = Now();
    e->tickLow = (unsigned int)now;
    e->tickHigh = (unsigned int)(now >> 32);
    e->slot = (UCHAR)slot;
    e->direction = direction;
    e->command = command;
    e->address = address;
    e->value = value;
    trafficTotal++;
}

static NTSTATUS Complete(IRP *irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static ULONG KindOf(const DEVICE_OBJECT *device) { return ((const Extension *)device->DeviceExtension)->kind; }

/* A request the bus's own device does not handle goes to the device below. */
static NTSTATUS PassBusDown(IRP *irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(busLower, irp);
}

/* Pending reads: a list under `lock`, each read cancellable. */
static void NTAPI CancelRead(DEVICE_OBJECT *device, IRP *irp)
{
    KIRQL irql;
    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&lock, irql);
    irp->IoStatus.Information = 0;
    Complete(irp, STATUS_CANCELLED);
}

/* Under `lock`: the oldest pending read that is not being cancelled. */
static IRP *PopRead(Converter *c)
{
    while (!IsListEmpty(&c->reads)) {
        LIST_ENTRY *entry = RemoveHeadList(&c->reads);
        IRP *irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, NULL))
            return irp;
        /* Its cancel routine runs: leave it an entry it can unlink. */
        InitializeListHead(&irp->Tail.Overlay.ListEntry);
    }
    return NULL;
}

/* Under `lock`: every pending read onto `done`, to be failed outside it. */
static void TakeAllReads(Converter *c, LIST_ENTRY *done)
{
    IRP *irp;
    while ((irp = PopRead(c)) != NULL) {
        irp->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
        irp->IoStatus.Information = 0;
        InsertTailList(done, &irp->Tail.Overlay.ListEntry);
    }
}

static void CompleteAll(LIST_ENTRY *done)
{
    while (!IsListEmpty(done)) {
        IRP *irp = CONTAINING_RECORD(RemoveHeadList(done), IRP, Tail.Overlay.ListEntry);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

/* Under `lock`: the converter leaves the bus. Its device object stops
 * answering at once; the system is told after the lock is released. */
static void UnplugLocked(Converter *c, LIST_ENTRY *done)
{
    if (!c->plugged)
        return;
    c->plugged = 0;
    if (c->child) {
        ChildExtension *ext = c->child->DeviceExtension;
        ext->gone = 1;
        c->child = NULL;
    }
    c->replyCount = 0;
    TakeAllReads(c, done);
}

static void TellBusChanged(void)
{
    if (busPhysical)
        IoInvalidateDeviceRelations(busPhysical, BusRelations);
}

/* Replies that are due go to pending reads; returns how long to wait for the
 * next one, in 100 ns units (0: nothing waits). */
static LONGLONG DeliverReplies(void)
{
    LIST_ENTRY answered;
    LONGLONG next = 0;
    KIRQL irql;
    unsigned i;
    InitializeListHead(&answered);
    KeAcquireSpinLock(&lock, &irql);
    for (i = 0; i < ZYRV_MAX_CONVERTERS; i++) {
        Converter *c = &converters[i];
        while (c->plugged && c->replyCount) {
            Reply *r = &c->replies[c->replyHead];
            ULONGLONG now = Now();
            IRP *irp;
            if (r->due > now) {
                LONGLONG wait = (LONGLONG)(r->due - now);
                if (!next || wait < next)
                    next = wait;
                break;
            }
            if ((irp = PopRead(c)) == NULL)
                break; /* answered when hidclass asks */
            {
                /* hidclass's buffer is filled after the lock is let go (it
                 * may be paged): the report travels in the IRP meanwhile. */
                UCHAR *report = (UCHAR *)irp->Tail.Overlay.DriverContext;
                report[0] = 2;
                report[1] = r->address;
                report[2] = r->value;
                RtlCopyMemory(report + 3, r->following, 5);
                irp->IoStatus.Information = PayloadLength(c);
                InsertTailList(&answered, &irp->Tail.Overlay.ListEntry);
            }
            Record(i, 1, 2, r->address, r->value);
            c->replyHead = (c->replyHead + 1) % REPLY_QUEUE;
            c->replyCount--;
        }
    }
    KeReleaseSpinLock(&lock, irql);
    while (!IsListEmpty(&answered)) {
        IRP *irp = CONTAINING_RECORD(RemoveHeadList(&answered), IRP, Tail.Overlay.ListEntry);
        const UCHAR *report = (const UCHAR *)irp->Tail.Overlay.DriverContext;
        IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
        ULONG length = stack->Parameters.DeviceIoControl.OutputBufferLength;
        UCHAR *out = irp->UserBuffer;
        if (length > irp->IoStatus.Information)
            length = (ULONG)irp->IoStatus.Information;
        RtlZeroMemory(out, length);
        /* The host reads the value only; the rest of the report carries the
         * registers that follow, so whatever a host keeps of a reply shows
         * in its next request. */
        if (length > 2)
            RtlCopyMemory(out, report, length < 8 ? length : 8);
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = length;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    return next;
}

static void NTAPI Worker(void *context)
{
    (void)context;
    while (!stopping) {
        LONGLONG next = DeliverReplies();
        LARGE_INTEGER timeout;
        /* Never sleep long: a reply may wait for hidclass's next read. */
        timeout.QuadPart = -((next && next < 20 * FRAME_TICKS) ? next : 20 * FRAME_TICKS);
        KeWaitForSingleObject(&wake, Executive, KernelMode, FALSE, &timeout);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static void PaceOneFrame(void)
{
    LARGE_INTEGER delay;
    if (!pacing)
        return;
    delay.QuadPart = -FRAME_TICKS;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
}

/* A report from the host: a request to the firmware. */
static NTSTATUS Request(ChildExtension *ext, const UCHAR *bytes, ULONG length)
{
    Converter *c = ext->converter;
    LIST_ENTRY done;
    NTSTATUS status = STATUS_SUCCESS;
    int unplugged = 0;
    KIRQL irql;
    InitializeListHead(&done);
    KeAcquireSpinLock(&lock, &irql);
    if (ext->gone || !c->plugged) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (c->faults.unplugAfter >= 0 && c->requests >= (ULONG)c->faults.unplugAfter) {
        UnplugLocked(c, &done);
        unplugged = 1;
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (length >= 3) {
        UCHAR command = bytes[0], address = bytes[1], value = bytes[2];
        c->requests++;
        Record(ext->slot, 0, command, address, value);
        if (command == ZYR_COMMAND_WRITE_REGISTER) {
            c->registers[address] = value;
        } else if (command == ZYR_COMMAND_READ_REGISTER && !c->faults.silent && c->replyCount < REPLY_QUEUE) {
            Reply *r = &c->replies[(c->replyHead + c->replyCount) % REPLY_QUEUE];
            ULONGLONG delay = pacing ? 2 * FRAME_TICKS : 0;
            unsigned k;
            r->address = address;
            r->value = c->registers[address];
            for (k = 0; k < 5; k++)
                r->following[k] = c->registers[(UCHAR)(address + 1 + k)];
            if (c->faults.wrongAt == address)
                r->value = (UCHAR)~r->value;
            if (c->faults.lateMs > 0 && (c->faults.lateAt < 0 || c->faults.lateAt == address)) {
                delay += (ULONGLONG)c->faults.lateMs * FRAME_TICKS;
                if (c->faults.lateTimes > 0 && --c->faults.lateTimes == 0)
                    c->faults.lateMs = 0;
            }
            r->due = Now() + delay;
            c->replyCount++;
        }
    }
    KeReleaseSpinLock(&lock, irql);
    CompleteAll(&done);
    if (unplugged)
        TellBusChanged();
    PaceOneFrame();
    KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
    return status;
}

static NTSTATUS CopyString(IRP *irp, const WCHAR *text)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG size = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG needed = (ULONG)(wcslen(text) + 1) * sizeof(WCHAR);
    if (size < needed)
        return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(irp->UserBuffer, text, needed);
    irp->IoStatus.Information = needed;
    return STATUS_SUCCESS;
}

static NTSTATUS ChildHidRequest(ChildExtension *ext, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    Converter *c = ext->converter;
    KIRQL irql;
    irp->IoStatus.Information = 0;
    if (ext->gone)
        return STATUS_DEVICE_NOT_CONNECTED;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case ZYRV_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        ZYRV_HID_DESCRIPTOR *d = irp->UserBuffer;
        if (outSize < sizeof(*d))
            return STATUS_BUFFER_TOO_SMALL;
        RtlZeroMemory(d, sizeof(*d));
        d->bLength = sizeof(*d);
        d->bDescriptorType = ZYRV_HID_HID_DESCRIPTOR_TYPE;
        d->bcdHID = 0x0111;
        d->bNumDescriptors = 1;
        d->bReportType = ZYRV_HID_REPORT_DESCRIPTOR_TYPE;
        d->wReportLength = sizeof(reportDescriptorTemplate);
        irp->IoStatus.Information = sizeof(*d);
        return STATUS_SUCCESS;
    }
    case ZYRV_IOCTL_HID_GET_REPORT_DESCRIPTOR: {
        UCHAR *d = irp->UserBuffer;
        if (outSize < sizeof(reportDescriptorTemplate))
            return STATUS_BUFFER_TOO_SMALL;
        RtlCopyMemory(d, reportDescriptorTemplate, sizeof(reportDescriptorTemplate));
        d[ZYR_REPORT_DESCRIPTOR_INPUT_COUNT_AT] = d[ZYR_REPORT_DESCRIPTOR_OUTPUT_COUNT_AT] = (UCHAR)PayloadLength(c);
        irp->IoStatus.Information = sizeof(reportDescriptorTemplate);
        return STATUS_SUCCESS;
    }
    case ZYRV_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        ZYRV_HID_DEVICE_ATTRIBUTES *a = irp->UserBuffer;
        if (outSize < sizeof(*a))
            return STATUS_BUFFER_TOO_SMALL;
        RtlZeroMemory(a, sizeof(*a));
        a->Size = sizeof(*a);
        a->VendorID = ZYR_VENDOR_ID;
        a->ProductID = ZYR_PRODUCT_ID;
        a->VersionNumber = c->identity == ZYRV_IDENTITY_RELEASE_0101 ? ZYR_RELEASE_NUMBER + 1 : ZYR_RELEASE_NUMBER;
        irp->IoStatus.Information = sizeof(*a);
        return STATUS_SUCCESS;
    }
    case ZYRV_IOCTL_HID_GET_STRING: {
        ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xffff;
        /* The request's own copy: requests for two converters may run at once. */
        WCHAR serial[] = L"ZYRV0-0";
        switch (id) {
        case 1:
        case ZYRV_HID_STRING_MANUFACTURER:
            return CopyString(irp, c->identity == ZYRV_IDENTITY_MAKER_CASE ? L"BRANTIX" : ZYR_WIDE(ZYR_MANUFACTURER));
        case 2:
        case ZYRV_HID_STRING_PRODUCT:
            return CopyString(irp, ZYR_WIDE(ZYR_PRODUCT));
        case 3:
        case ZYRV_HID_STRING_SERIAL:
            serial[4] = (WCHAR)(L'0' + ext->slot);
            serial[6] = (WCHAR)(L'0' + ext->generation % 10);
            return CopyString(irp, serial);
        default:
            return STATUS_INVALID_PARAMETER;
        }
    }
    case ZYRV_IOCTL_HID_READ_REPORT: {
        KeAcquireSpinLock(&lock, &irql);
        if (ext->gone) {
            KeReleaseSpinLock(&lock, irql);
            return STATUS_DEVICE_NOT_CONNECTED;
        }
        IoMarkIrpPending(irp);
        InsertTailList(&c->reads, &irp->Tail.Overlay.ListEntry);
        IoSetCancelRoutine(irp, CancelRead);
        if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
            RemoveEntryList(&irp->Tail.Overlay.ListEntry);
            KeReleaseSpinLock(&lock, irql);
            Complete(irp, STATUS_CANCELLED);
            return STATUS_PENDING;
        }
        KeReleaseSpinLock(&lock, irql);
        KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
        return STATUS_PENDING;
    }
    case ZYRV_IOCTL_HID_WRITE_REPORT:
    case ZYRV_IOCTL_HID_SET_OUTPUT_REPORT: {
        ZYRV_HID_XFER_PACKET *packet = irp->UserBuffer;
        const UCHAR *bytes;
        ULONG length;
        NTSTATUS status;
        if (!packet)
            packet = stack->Parameters.DeviceIoControl.Type3InputBuffer;
        if (!packet || !packet->reportBuffer)
            return STATUS_INVALID_PARAMETER;
        bytes = packet->reportBuffer;
        length = packet->reportBufferLen;
        /* Some stacks pass the report with its id byte in front. */
        if (length == PayloadLength(c) + 1) {
            bytes++;
            length--;
        }
        status = Request(ext, bytes, length);
        /* Windows tells the program the whole report moved, the report id
         * byte in front included (9 bytes for 8 on the wire); hidclass
         * passes on what the minidriver says, so it says so here. */
        if (NT_SUCCESS(status))
            irp->IoStatus.Information = PayloadLength(c) + 1;
        return status;
    }
    case ZYRV_IOCTL_HID_ACTIVATE_DEVICE:
    case ZYRV_IOCTL_HID_DEACTIVATE_DEVICE:
        return STATUS_SUCCESS;
    default:
        return STATUS_NOT_SUPPORTED;
    }
}

static NTSTATUS QueryId(ChildExtension *ext, IRP *irp, BUS_QUERY_ID_TYPE type)
{
    static const WCHAR deviceId[] = L"ZYRVBUS\\VID_16C0&PID_03E8";
    WCHAR *id;
    SIZE_T size;
    switch (type) {
    case BusQueryDeviceID:
    case BusQueryHardwareIDs:
    case BusQueryCompatibleIDs:
        /* One id, ended by two zeros so it also reads as a list. */
        size = sizeof(deviceId) + sizeof(WCHAR);
        if (!(id = ExAllocatePoolWithTag(PagedPool, size, POOL_TAG)))
            return STATUS_NO_MEMORY;
        RtlZeroMemory(id, size);
        RtlCopyMemory(id, deviceId, sizeof(deviceId));
        break;
    case BusQueryInstanceID:
        size = 16 * sizeof(WCHAR);
        if (!(id = ExAllocatePoolWithTag(PagedPool, size, POOL_TAG)))
            return STATUS_NO_MEMORY;
        RtlZeroMemory(id, size);
        /* slot and generation: each plug is a new device to the system */
        id[0] = (WCHAR)(L'0' + ext->slot);
        id[1] = L'&';
        {
            unsigned g = ext->generation, n = 0, k;
            WCHAR digits[10];
            do {
                digits[n++] = (WCHAR)(L'0' + g % 10);
                g /= 10;
            } while (g && n < 10);
            for (k = 0; k < n; k++)
                id[2 + k] = digits[n - 1 - k];
        }
        break;
    default:
        return irp->IoStatus.Status;
    }
    irp->IoStatus.Information = (ULONG_PTR)id;
    return STATUS_SUCCESS;
}

static NTSTATUS ChildPnp(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ChildExtension *ext = device->DeviceExtension;
    NTSTATUS status = irp->IoStatus.Status;
    LIST_ENTRY done;
    KIRQL irql;
    InitializeListHead(&done);
    switch (stack->MinorFunction) {
    case IRP_MN_QUERY_ID:
        status = QueryId(ext, irp, stack->Parameters.QueryId.IdType);
        break;
    case IRP_MN_QUERY_CAPABILITIES: {
        DEVICE_CAPABILITIES *caps = stack->Parameters.DeviceCapabilities.Capabilities;
        caps->Removable = 1;
        caps->SurpriseRemovalOK = 1;
        caps->UniqueID = 1;
        caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
        status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE: {
        /* Reads still pending are failed, or the removal would wait on them. */
        int deleteNow;
        KeAcquireSpinLock(&lock, &irql);
        if (ext->converter->child == device)
            TakeAllReads(ext->converter, &done);
        deleteNow = ext->gone && stack->MinorFunction == IRP_MN_REMOVE_DEVICE;
        KeReleaseSpinLock(&lock, irql);
        CompleteAll(&done);
        Complete(irp, STATUS_SUCCESS);
        /* A converter that left the bus, and that the last answer to the
         * bus relations no longer listed, is gone: its device object goes
         * with the removal. The system still holds the reference that
         * answer gave it, so the stack above may detach from it safely.
         * One still on the bus stays, to be started again. */
        if (deleteNow)
            IoDeleteDevice(device);
        return STATUS_SUCCESS;
    }
    default:
        break;
    }
    return Complete(irp, status);
}

static NTSTATUS BusRelationsAnswer(IRP *irp)
{
    DEVICE_RELATIONS *relations;
    ULONG count = 0, i;
    KIRQL irql;
    DEVICE_OBJECT *fresh[ZYRV_MAX_CONVERTERS] = {0};
    DEVICE_OBJECT *listed[ZYRV_MAX_CONVERTERS];

    /* Device objects for converters plugged since the last question. */
    for (i = 0; i < ZYRV_MAX_CONVERTERS; i++) {
        DEVICE_OBJECT *child;
        ChildExtension *ext;
        if (!converters[i].plugged || converters[i].child)
            continue;
        if (!NT_SUCCESS(IoCreateDevice(driverObject, sizeof(ChildExtension), NULL, FILE_DEVICE_UNKNOWN,
                                       FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &child)))
            continue;
        ext = child->DeviceExtension;
        RtlZeroMemory(ext, sizeof(*ext));
        ext->base.kind = TAG_KIND_CHILD;
        ext->converter = &converters[i];
        ext->slot = i;
        child->Flags &= ~DO_DEVICE_INITIALIZING;
        fresh[i] = child;
    }
    /* The answer is paged memory, which must not be touched under the spin
     * lock: the children are listed on the stack, then copied into it. */
    relations = ExAllocatePoolWithTag(
        PagedPool, sizeof(DEVICE_RELATIONS) + ZYRV_MAX_CONVERTERS * sizeof(DEVICE_OBJECT *), POOL_TAG);
    KeAcquireSpinLock(&lock, &irql);
    for (i = 0; i < ZYRV_MAX_CONVERTERS; i++) {
        Converter *c = &converters[i];
        if (fresh[i]) {
            if (c->plugged && !c->child) {
                ((ChildExtension *)fresh[i]->DeviceExtension)->generation = ++c->generation;
                c->child = fresh[i];
                fresh[i] = NULL;
            }
        }
        if (c->plugged && c->child && relations) {
            listed[count++] = c->child;
            ObReferenceObject(c->child);
        }
    }
    KeReleaseSpinLock(&lock, irql);
    for (i = 0; i < ZYRV_MAX_CONVERTERS; i++)
        if (fresh[i])
            IoDeleteDevice(fresh[i]);
    if (!relations)
        return STATUS_NO_MEMORY;
    for (i = 0; i < count; i++)
        relations->Objects[i] = listed[i];
    relations->Count = count;
    irp->IoStatus.Information = (ULONG_PTR)relations;
    return STATUS_SUCCESS;
}

static NTSTATUS BusPnp(IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == BusRelations)
            irp->IoStatus.Status = BusRelationsAnswer(irp);
        break;
    case IRP_MN_START_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        NTSTATUS status;
        DEVICE_OBJECT *lower = busLower;
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(busDevice);
        busDevice = busLower = busPhysical = NULL;
        return status;
    }
    default:
        break;
    }
    return PassBusDown(irp);
}

static NTSTATUS Control(IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void *buffer = irp->AssociatedIrp.SystemBuffer;
    const ZyrvSlot *slotIn = buffer;
    LIST_ENTRY done;
    NTSTATUS status = STATUS_SUCCESS;
    int changed = 0;
    KIRQL irql;
    ULONG i;

    irp->IoStatus.Information = 0;
    InitializeListHead(&done);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case ZYRV_IOCTL_PLUG: {
        const ZyrvPlug *p = buffer;
        if (inSize < sizeof(*p) || p->slot >= ZYRV_MAX_CONVERTERS || p->identity >= ZYRV_IDENTITY_COUNT)
            return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&lock, &irql);
        if (converters[p->slot].plugged) {
            status = STATUS_DEVICE_BUSY;
        } else {
            Converter *c = &converters[p->slot];
            c->identity = p->identity;
            if (!p->keepRegisters)
                RtlCopyMemory(c->registers, p->registers, 256);
            c->requests = 0;
            c->replyCount = 0;
            c->plugged = 1;
            changed = 1;
        }
        KeReleaseSpinLock(&lock, irql);
        break;
    }
    case ZYRV_IOCTL_UNPLUG:
        if (inSize < sizeof(ZyrvSlot) || slotIn->slot >= ZYRV_MAX_CONVERTERS)
            return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&lock, &irql);
        changed = converters[slotIn->slot].plugged;
        UnplugLocked(&converters[slotIn->slot], &done);
        KeReleaseSpinLock(&lock, irql);
        break;
    case ZYRV_IOCTL_SET_REGISTERS: {
        const ZyrvRegisters *r = buffer;
        if (inSize < sizeof(*r) || r->slot >= ZYRV_MAX_CONVERTERS)
            return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&lock, &irql);
        RtlCopyMemory(converters[r->slot].registers, r->registers, 256);
        KeReleaseSpinLock(&lock, irql);
        break;
    }
    case ZYRV_IOCTL_GET_REGISTERS: {
        ZyrvRegisters *r = buffer;
        ULONG slot;
        if (inSize < sizeof(ZyrvSlot) || outSize < sizeof(*r) || slotIn->slot >= ZYRV_MAX_CONVERTERS)
            return STATUS_INVALID_PARAMETER;
        slot = slotIn->slot;
        KeAcquireSpinLock(&lock, &irql);
        r->slot = slot;
        RtlCopyMemory(r->registers, converters[slot].registers, 256);
        KeReleaseSpinLock(&lock, irql);
        irp->IoStatus.Information = sizeof(*r);
        break;
    }
    case ZYRV_IOCTL_SET_FAULTS: {
        const ZyrvFaults *f = buffer;
        if (inSize < sizeof(*f) || f->slot >= ZYRV_MAX_CONVERTERS)
            return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&lock, &irql);
        converters[f->slot].faults = *f;
        converters[f->slot].requests = 0;
        KeReleaseSpinLock(&lock, irql);
        break;
    }
    case ZYRV_IOCTL_SET_PACING:
        if (inSize < sizeof(ZyrvSlot))
            return STATUS_INVALID_PARAMETER;
        pacing = slotIn->slot != 0;
        break;
    case ZYRV_IOCTL_GET_TRAFFIC: {
        ZyrvTraffic *t = buffer;
        ULONG first, oldest;
        if (inSize < sizeof(ZyrvSlot) || outSize < sizeof(*t))
            return STATUS_INVALID_PARAMETER;
        first = slotIn->slot;
        KeAcquireSpinLock(&lock, &irql);
        oldest = trafficTotal > ZYRV_TRAFFIC_CAPACITY ? trafficTotal - ZYRV_TRAFFIC_CAPACITY : 0;
        if (first < oldest)
            first = oldest;
        t->total = trafficTotal;
        t->first = first;
        t->count = 0;
        t->pad = 0;
        while (first + t->count < trafficTotal && t->count < ZYRV_TRAFFIC_CHUNK) {
            t->entries[t->count] = traffic[(first + t->count) % ZYRV_TRAFFIC_CAPACITY];
            t->count++;
        }
        KeReleaseSpinLock(&lock, irql);
        irp->IoStatus.Information = sizeof(*t);
        break;
    }
    case ZYRV_IOCTL_CLEAR_TRAFFIC:
        KeAcquireSpinLock(&lock, &irql);
        trafficTotal = 0;
        KeReleaseSpinLock(&lock, irql);
        break;
    case ZYRV_IOCTL_GET_STATUS: {
        ZyrvStatus *s = buffer;
        if (outSize < sizeof(*s))
            return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&lock, &irql);
        s->version = ZYRV_INTERFACE_VERSION;
        s->pacing = (unsigned)pacing;
        for (i = 0; i < ZYRV_MAX_CONVERTERS; i++) {
            s->converters[i].plugged = (unsigned)converters[i].plugged;
            s->converters[i].present = converters[i].child != NULL;
            s->converters[i].identity = converters[i].identity;
            s->converters[i].requests = converters[i].requests;
        }
        KeReleaseSpinLock(&lock, irql);
        irp->IoStatus.Information = sizeof(*s);
        break;
    }
    default:
        return STATUS_NOT_SUPPORTED;
    }
    CompleteAll(&done);
    if (changed)
        TellBusChanged();
    return status;
}

static NTSTATUS NTAPI DispatchPnp(DEVICE_OBJECT *device, IRP *irp)
{
    ULONG kind = KindOf(device);
    if (kind == TAG_KIND_BUS)
        return BusPnp(irp);
    if (kind == TAG_KIND_CHILD)
        return ChildPnp(device, irp);
    return Complete(irp, STATUS_NOT_SUPPORTED);
}

static NTSTATUS NTAPI DispatchPower(DEVICE_OBJECT *device, IRP *irp)
{
    PoStartNextPowerIrp(irp);
    if (KindOf(device) == TAG_KIND_BUS) {
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(busLower, irp);
    }
    return Complete(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI DispatchInternal(DEVICE_OBJECT *device, IRP *irp)
{
    NTSTATUS status;
    if (KindOf(device) != TAG_KIND_CHILD)
        return Complete(irp, STATUS_NOT_SUPPORTED);
    status = ChildHidRequest(device->DeviceExtension, irp);
    if (status == STATUS_PENDING)
        return status;
    return Complete(irp, status);
}

static NTSTATUS NTAPI DispatchControl(DEVICE_OBJECT *device, IRP *irp)
{
    ULONG kind = KindOf(device);
    if (kind == TAG_KIND_CONTROL)
        return Complete(irp, Control(irp));
    if (kind == TAG_KIND_BUS)
        return PassBusDown(irp);
    return Complete(irp, STATUS_NOT_SUPPORTED);
}

static NTSTATUS NTAPI DispatchOpenClose(DEVICE_OBJECT *device, IRP *irp)
{
    (void)device;
    irp->IoStatus.Information = 0;
    return Complete(irp, STATUS_SUCCESS);
}

/* The control channel rewrites converters and reads all traffic: only
 * administrators and the system may open it. A DACL of two entries, with
 * the two SIDs spelled out (S-1-5-32-544 and S-1-5-18). */
static NTSTATUS AdminsOnly(DEVICE_OBJECT *device)
{
    static const UCHAR administrators[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    static const UCHAR localSystem[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    ULONG aclBuffer[32]; /* ACL header and two ACEs, with room to spare */
    ACL *acl = (ACL *)aclBuffer;
    SECURITY_DESCRIPTOR descriptor;
    HANDLE handle;
    NTSTATUS status = RtlCreateAcl(acl, sizeof(aclBuffer), ACL_REVISION);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, (PSID)administrators);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, (PSID)localSystem);
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status))
        status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status))
        return status;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
    return status;
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT *driver, DEVICE_OBJECT *physical)
{
    NTSTATUS status;
    DEVICE_OBJECT *device;
    if (busDevice)
        return STATUS_DEVICE_ALREADY_ATTACHED; /* one bus */
    status = IoCreateDevice(driver, sizeof(Extension), NULL, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    ((Extension *)device->DeviceExtension)->kind = TAG_KIND_BUS;
    busLower = IoAttachDeviceToDeviceStack(device, physical);
    busPhysical = physical;
    busDevice = device;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void NTAPI Unload(DRIVER_OBJECT *driver)
{
    UNICODE_STRING link;
    (void)driver;
    InterlockedExchange(&stopping, 1);
    KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
    /* The worker uses the lock, the converters and the driver's code: it
     * must have ended before any of them goes. */
    if (workerThread) {
        ZwWaitForSingleObject(workerThread, FALSE, NULL);
        ZwClose(workerThread);
        workerThread = NULL;
    }
    RtlInitUnicodeString(&link, controlLink);
    IoDeleteSymbolicLink(&link);
    if (controlDevice)
        IoDeleteDevice(controlDevice);
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry)
{
    UNICODE_STRING name, link;
    OBJECT_ATTRIBUTES threadAttributes;
    NTSTATUS status;
    unsigned i;
    (void)registry;
    driverObject = driver;
    KeInitializeSpinLock(&lock);
    KeInitializeEvent(&wake, SynchronizationEvent, FALSE);
    for (i = 0; i < ZYRV_MAX_CONVERTERS; i++) {
        InitializeListHead(&converters[i].reads);
        RtlFillMemory(converters[i].registers, 256, 0xff);
        converters[i].faults.lateAt = -1;
        converters[i].faults.wrongAt = -1;
        converters[i].faults.unplugAfter = -1;
    }
    RtlInitUnicodeString(&name, controlName);
    status = IoCreateDevice(driver, sizeof(Extension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &controlDevice);
    if (!NT_SUCCESS(status))
        return status;
    ((Extension *)controlDevice->DeviceExtension)->kind = TAG_KIND_CONTROL;
    status = AdminsOnly(controlDevice);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(controlDevice);
        return status;
    }
    RtlInitUnicodeString(&link, controlLink);
    IoCreateSymbolicLink(&link, &name);
    controlDevice->Flags &= ~DO_DEVICE_INITIALIZING;

    InitializeObjectAttributes(&threadAttributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    status = PsCreateSystemThread(&workerThread, THREAD_ALL_ACCESS, &threadAttributes, NULL, NULL, Worker, NULL);
    if (!NT_SUCCESS(status)) {
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(controlDevice);
        return status;
    }
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternal;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
    return STATUS_SUCCESS;
}
