// Preloaded ahead of umockdev's library wherever a program talks to the emulated bus: a control
// transfer (USBDEVFS_CONTROL), selecting the configuration and claiming or releasing an interface
// on a USB device node go to the bus's control socket as one message each and come back as one
// answer. Each open node has its own connection, so that the bus can keep each file's claims as
// usbfs does, and closing the node ends it. Everything else (the bus scan, the descriptors read
// from the node, bulk requests) goes on to umockdev as before. Deliberately free of Qt, of the
// heap and of the sanitizer runtimes: it runs inside the program's very first calls to open().

// The fortified headers define open() inline, which would clash with the definitions here.
#undef _FORTIFY_SOURCE

#include "controlwire.h"
#include "preloadopen.h"

#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <pthread.h>
#include <sys/un.h>
#include <unistd.h>
// <linux/usbdevice_fs.h> needs the _IO* macros of <sys/ioctl.h> first.
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

namespace {

constexpr char DeviceFiles[] = "/dev/";
constexpr char UsbDeviceNodes[] = "/dev/bus/usb/";
constexpr char DirectoryVariable[] = "UMOCKDEV_DIR";
// Descriptors above this are left to umockdev; libusb's come from the bottom.
constexpr int TrackedDescriptors = 4096;
constexpr unsigned char DirectionIn = 0x80;
constexpr int DecimalBase = 10;
// How long close() waits for the bus to release the file's claims; only a bus that hangs takes it.
constexpr int CloseWaitMs = 5000;

// One per file descriptor. All zero (static storage, before any constructor runs) is "not a
// USB device node"; connection holds the socket's descriptor plus one.
struct Handle
{
    pthread_mutex_t lock;
    int busNumber;
    int deviceNumber;
    int connection;
};

Handle handles[TrackedDescriptors];

using CloseFunction = int (*)(int);
using IoctlFunction = int (*)(int, unsigned long, ...);

int closeNext(int descriptor)
{
    const auto function = nextFunction<CloseFunction>("close");
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return function(descriptor);
}

// "/dev/bus/usb/BBB/DDD" gives BBB and DDD; any other path gives false.
bool parseNode(const char *path, int *busNumber, int *deviceNumber)
{
    if (!path || std::strncmp(path, UsbDeviceNodes, sizeof(UsbDeviceNodes) - 1) != 0)
        return false;
    char *end = nullptr;
    const long bus = std::strtol(path + sizeof(UsbDeviceNodes) - 1, &end, DecimalBase);
    if (!end || *end != '/')
        return false;
    const long device = std::strtol(end + 1, &end, DecimalBase);
    if (!end || *end != '\0' || bus <= 0 || device <= 0)
        return false;
    *busNumber = int(bus);
    *deviceNumber = int(device);
    return true;
}

// Ends the connection as usbfs ends an open file: once the bus has answered our end with its
// own, it has released the claims, so that a handle opened next finds the interface free.
void dropConnection(Handle &handle)
{
    if (handle.connection > 0) {
        const int socket = handle.connection - 1;
        shutdown(socket, SHUT_WR);
        pollfd end{socket, POLLIN, 0};
        char byte = 0;
        for (;;) {
            const int ready = poll(&end, 1, CloseWaitMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0 || recv(socket, &byte, 1, MSG_DONTWAIT) <= 0)
                break;
        }
        closeNext(socket);
    }
    handle.connection = 0;
}

bool refusesOpen(const char *, int)
{
    return false;
}

// After the real open(): remember which node the descriptor is.
int opened(int descriptor, const char *path)
{
    int busNumber = 0;
    int deviceNumber = 0;
    // umockdev's library keeps an entry for every open() under /dev, a failed one too (under
    // the descriptor -1), and aborts the program once it holds 50: a node that leaves the bus
    // while a program scans it fails one open(). Closing -1 through it drops that entry.
    if (descriptor < 0 && path && std::strncmp(path, DeviceFiles, sizeof(DeviceFiles) - 1) == 0) {
        const int error = errno;
        closeNext(descriptor);
        errno = error;
        return descriptor;
    }
    if (descriptor < 0 || descriptor >= TrackedDescriptors ||
        !parseNode(path, &busNumber, &deviceNumber))
        return descriptor;
    Handle &handle = handles[descriptor];
    pthread_mutex_lock(&handle.lock);
    dropConnection(handle);
    handle.busNumber = busNumber;
    handle.deviceNumber = deviceNumber;
    pthread_mutex_unlock(&handle.lock);
    return descriptor;
}

bool connectHandle(Handle &handle)
{
    const char *directory = std::getenv(DirectoryVariable);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!directory ||
        std::strlen(directory) + sizeof(ControlWire::SocketName) + 1 > sizeof(address.sun_path))
        return false;
    std::strcpy(address.sun_path, directory);
    std::strcat(address.sun_path, "/");
    std::strcat(address.sun_path, ControlWire::SocketName);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return false;
    ControlWire::Hello hello;
    hello.busNumber = std::uint32_t(handle.busNumber);
    hello.deviceNumber = std::uint32_t(handle.deviceNumber);
    iovec part{&hello, sizeof(hello)};
    if (connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        !ControlWire::sendAll(socket, &part, 1)) {
        closeNext(socket);
        return false;
    }
    handle.connection = socket + 1;
    return true;
}

// One request's round trip, with the handle locked; data is the control transfer's data stage.
// A bus that cannot be reached is a device that is gone, as usbfs reports it.
int exchange(Handle &handle, ControlWire::Request &request, void *data)
{
    if (handle.connection == 0 && !connectHandle(handle)) {
        errno = ENODEV;
        return -1;
    }
    const int socket = handle.connection - 1;
    const bool in = (request.requestType & DirectionIn) != 0;
    iovec parts[2] = {{&request, sizeof(request)}, {data, request.length}};
    const int count = in || request.length == 0 ? 1 : 2;
    ControlWire::Answer answer;
    if (!ControlWire::sendAll(socket, parts, count) ||
        !ControlWire::receiveAll(socket, &answer, sizeof(answer)) ||
        answer.inLength > request.length ||
        !ControlWire::receiveAll(socket, data, answer.inLength)) {
        dropConnection(handle);
        errno = ENODEV;
        return -1;
    }
    if (answer.result < 0) {
        errno = answer.error;
        return -1;
    }
    return answer.result;
}

int control(Handle &handle, const usbdevfs_ctrltransfer *transfer)
{
    if (!transfer || (transfer->wLength > 0 && !transfer->data)) {
        errno = EFAULT;
        return -1;
    }
    ControlWire::Request request;
    request.requestType = transfer->bRequestType;
    request.request = transfer->bRequest;
    request.value = transfer->wValue;
    request.index = transfer->wIndex;
    request.length = transfer->wLength;
    request.timeoutMs = transfer->timeout;
    return exchange(handle, request, transfer->data);
}

// SETCONFIGURATION, CLAIMINTERFACE and RELEASEINTERFACE take a pointer to the number.
int numbered(Handle &handle, ControlWire::Operation operation, const unsigned int *number)
{
    if (!number) {
        errno = EFAULT;
        return -1;
    }
    ControlWire::Request request;
    request.operation = operation;
    request.number = *number;
    return exchange(handle, request, nullptr);
}

// The requests that go to the bus's control socket; -2 for any other, which goes on to umockdev.
constexpr int NotCarried = -2;

int carry(Handle &handle, unsigned long request, void *argument)
{
    switch (request) {
    case USBDEVFS_CONTROL:
        return control(handle, static_cast<usbdevfs_ctrltransfer *>(argument));
    case USBDEVFS_SETCONFIGURATION:
        return numbered(handle, ControlWire::Operation::SetConfiguration,
                        static_cast<unsigned int *>(argument));
    case USBDEVFS_CLAIMINTERFACE:
        return numbered(handle, ControlWire::Operation::ClaimInterface,
                        static_cast<unsigned int *>(argument));
    case USBDEVFS_RELEASEINTERFACE:
        return numbered(handle, ControlWire::Operation::ReleaseInterface,
                        static_cast<unsigned int *>(argument));
    default:
        return NotCarried;
    }
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int close(int descriptor)
{
    if (descriptor >= 0 && descriptor < TrackedDescriptors) {
        Handle &handle = handles[descriptor];
        pthread_mutex_lock(&handle.lock);
        dropConnection(handle);
        handle.busNumber = 0;
        handle.deviceNumber = 0;
        pthread_mutex_unlock(&handle.lock);
    }
    return closeNext(descriptor);
}

__attribute__((visibility("default"))) int ioctl(int descriptor, unsigned long request,
                                                 ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (descriptor >= 0 && descriptor < TrackedDescriptors) {
        Handle &handle = handles[descriptor];
        pthread_mutex_lock(&handle.lock);
        if (handle.deviceNumber != 0) {
            const int result = carry(handle, request, argument);
            const int error = errno;
            pthread_mutex_unlock(&handle.lock);
            errno = error;
            if (result != NotCarried)
                return result;
        } else {
            pthread_mutex_unlock(&handle.lock);
        }
    }
    const auto function = nextFunction<IoctlFunction>("ioctl");
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return function(descriptor, request, argument);
}

} // extern "C"
