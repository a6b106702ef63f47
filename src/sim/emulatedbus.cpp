// umockdev brings in GLib and GIO, whose headers must come before Qt's keyword macros.
#include <umockdev.h>

#include "emulatedbus.h"

#include "controlchannel.h"
#include "controlwire.h"
#include "preloadenvironment.h"
#include "simulateddevice.h"


#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

// <linux/usbdevice_fs.h> needs the _IO* macros of <sys/ioctl.h> first.
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <unistd.h>

namespace {

constexpr int BusNumber = 1;
constexpr int RootHubDevnum = 1;
constexpr int FirstDeviceDevnum = 2;
constexpr int LastDevnum = 127;
constexpr int UsbDeviceMajor = 189;
constexpr int MinorsPerBus = 128;
constexpr int FullSpeedMbps = 12;
constexpr int HighSpeedMbps = 480;
constexpr char ControllerPath[] = "/devices/pci0000:00/0000:00:14.0";
constexpr char SelfExecutable[] = "/proc/self/exe";

// What usbfs returns on read() of bus 001's root hub: a high-speed hub with one configuration,
// one interface and its status-change endpoint. No strings.
constexpr unsigned char RootHubDescriptors[] = {
    0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x6B, 0x1D, 0x02, 0x00, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x01, 0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x00, 0x09, 0x04, 0x00,
    0x00, 0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0C,
};

std::atomic<bool> busExists{false};

struct IoctlDataRelease
{
    void operator()(UMockdevIoctlData *data) const { g_object_unref(data); }
};
using IoctlDataPointer = std::unique_ptr<UMockdevIoctlData, IoctlDataRelease>;

IoctlDataPointer resolve(UMockdevIoctlData *parent, std::size_t offset, std::size_t length)
{
    GError *error = nullptr;
    IoctlDataPointer data(umockdev_ioctl_data_resolve(parent, offset, length, &error));
    g_clear_error(&error);
    return data;
}

using Host = ControlChannel::Host;
using Answer = ControlChannel::Answer;

// The open file (control connection) that holds an interface.
struct Claim
{
    quint64 connection = 0;
    qint64 process = 0;
};

// One appearance of a device on the bus, under one device number. It outlives its time on
// the bus: handles the host still holds keep talking to it and learn that it is gone.
struct Node
{
    EmulatedBus::DeviceId id = 0;
    int devnum = 0;
    QByteArray devnode;
    QByteArray syspath;
    std::shared_ptr<SimulatedDevice> device;
    UMockdevIoctlBase *handler = nullptr;
    gulong handlerId = 0;
    bool present = false;
    bool attached = false;
    // By interface number.
    std::map<unsigned, Claim> claims;
};

struct Slot
{
    std::shared_ptr<SimulatedDevice> device;
    int port = 0;
    Node *node = nullptr;
    GSource *returnTimer = nullptr;
    std::set<qint64> claimants;
    QList<EmulatedBus::ClaimRefusal> refusals;
};

} // namespace

struct EmulatedBus::Private : std::enable_shared_from_this<Private>
{
    struct Reply
    {
        glong result = 0;
        int error = 0;
    };

    // Callback data that keeps the bus alive for as long as GLib may still call back.
    struct HandlerLink
    {
        std::shared_ptr<Private> bus;
        Node *node;
    };
    struct ReturnLink
    {
        std::shared_ptr<Private> bus;
        DeviceId id;
    };

    ~Private();

    Node *addNode(DeviceId id, int port, int devnum,
                  const std::shared_ptr<SimulatedDevice> &device);
    void removeNode(Node &node);
    bool plugSlot(DeviceId id, Slot &slot);
    int allocateDevnum();
    int freePort() const;
    void scheduleReturn(DeviceId id, Slot &slot, int delayMs);
    static void cancelReturn(Slot &slot);

    gboolean dispatch(Node &node, UMockdevIoctlClient *client);
    Reply handle(Node &node, UMockdevIoctlClient *client);
    int bindNode(int busNumber, int deviceNumber);
    Answer serve(const Host &host, const ControlChannel::Request &request);
    Answer configure(Node &node, const Host &host, unsigned configuration);
    Answer claim(Node &node, const Host &host, unsigned interfaceNumber);
    Answer refuse(Node &node, const Host &host, const char *request,
                  std::map<unsigned, Claim>::const_iterator held);
    Answer control(Node &node, const Host &host, const ControlChannel::Request &request,
                   std::unique_lock<std::mutex> *locker);
    void endConnection(const Host &host);
    void depart(Node &node, int returnAfterMs);

    static gboolean onHandleIoctl(UMockdevIoctlBase *handler, UMockdevIoctlClient *client,
                                  gpointer data);
    static void releaseHandlerLink(gpointer data, GClosure *closure);
    static gboolean onReturnDue(gpointer data);
    static void releaseReturnLink(gpointer data);

    UMockdevTestbed *testbed = nullptr;
    QString root;
    // Standard-library locks: ThreadSanitizer sees them whole (Qt's wait condition unlocks
    // inside the uninstrumented QtCore).
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<std::unique_ptr<Node>> nodes;
    std::map<DeviceId, Slot> devices;
    DeviceId lastId = 0;
    int lastDevnum = RootHubDevnum;
    GMainContext *handlerContext = nullptr;
    bool closing = false;
    DepartureListener listener;
    // Control transfers come through the bus's own socket, one message each way, beside
    // umockdev's ioctl thread (which needs three round trips for one).
    std::unique_ptr<ControlChannel> channel;
};

EmulatedBus::EmulatedBus() : d(std::make_shared<Private>())
{
    if (busExists.exchange(true))
        qFatal("EmulatedBus: only one bus may exist at a time");
    d->testbed = umockdev_testbed_new();
    gchar *root = umockdev_testbed_get_root_dir(d->testbed);
    d->root = QString::fromLocal8Bit(root);
    g_free(root);
    Private *bus = d.get();
    d->channel = std::make_unique<ControlChannel>(
        d->root + QLatin1Char('/') + QLatin1String(ControlWire::SocketName),
        [bus](int busNumber, int deviceNumber) { return bus->bindNode(busNumber, deviceNumber); },
        [bus](const Host &host, const ControlChannel::Request &request) {
            return bus->serve(host, request);
        },
        [bus](const Host &host) { bus->endConnection(host); });
    if (!d->channel->isListening())
        qFatal("EmulatedBus: cannot listen for control transfers in %s", qPrintable(d->root));
    std::unique_lock<std::mutex> locker(d->lock);
    d->addNode(0, 0, RootHubDevnum, nullptr);
}

EmulatedBus::~EmulatedBus()
{
    {
        std::unique_lock<std::mutex> locker(d->lock);
        d->closing = true;
        for (auto &entry : d->devices) {
            Private::cancelReturn(entry.second);
            if (entry.second.node)
                d->removeNode(*entry.second.node);
        }
        d->devices.clear();
        for (const auto &node : d->nodes)
            g_signal_handler_disconnect(node->handler, node->handlerId);
        d->changed.notify_all();
    }
    d->channel->stop();
    g_object_unref(d->testbed);
    d->testbed = nullptr;
    busExists = false;
}

EmulatedBus::Private::~Private()
{
    for (const auto &node : nodes)
        g_object_unref(node->handler);
    if (handlerContext)
        g_main_context_unref(handlerContext);
}

void EmulatedBus::ensurePreloaded(int argc, char **argv)
{
    Q_UNUSED(argc);
    if (PreloadEnvironment::isActive())
        return;
    if (!PreloadEnvironment::apply()) {
        std::fprintf(stderr, "%s: %s is missing beside the program and in %s\n", argv[0],
                     PreloadEnvironment::ControlLibrary,
                     qPrintable(PreloadEnvironment::installedDirectory()));
        std::exit(EXIT_FAILURE);
    }
    execv(SelfExecutable, argv);
    std::fprintf(stderr, "%s: cannot run again under %s: %s\n", argv[0],
                 PreloadEnvironment::PreloadLibrary, std::strerror(errno));
    std::exit(EXIT_FAILURE);
}

QString EmulatedBus::rootDirectory() const
{
    return d->root;
}

EmulatedBus::DeviceId EmulatedBus::plug(const std::shared_ptr<SimulatedDevice> &device)
{
    std::unique_lock<std::mutex> locker(d->lock);
    const DeviceId id = ++d->lastId;
    Slot &slot = d->devices[id];
    slot.device = device;
    slot.port = d->freePort();
    d->plugSlot(id, slot);
    return id;
}

std::shared_ptr<SimulatedDevice> EmulatedBus::device(DeviceId id) const
{
    std::unique_lock<std::mutex> locker(d->lock);
    const auto found = d->devices.find(id);
    return found == d->devices.end() ? nullptr : found->second.device;
}

bool EmulatedBus::isPresent(DeviceId id) const
{
    return deviceNumber(id) != 0;
}

int EmulatedBus::deviceNumber(DeviceId id) const
{
    std::unique_lock<std::mutex> locker(d->lock);
    const auto found = d->devices.find(id);
    return found == d->devices.end() || !found->second.node ? 0 : found->second.node->devnum;
}

QString EmulatedBus::nodePath(DeviceId id) const
{
    std::unique_lock<std::mutex> locker(d->lock);
    const auto found = d->devices.find(id);
    return found == d->devices.end() || !found->second.node
               ? QString()
               : QString::fromLatin1(found->second.node->devnode);
}

bool EmulatedBus::waitUntilPresent(DeviceId id, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> locker(d->lock);
    for (;;) {
        const auto found = d->devices.find(id);
        if (found == d->devices.end())
            return false;
        if (found->second.node)
            return true;
        if (d->changed.wait_until(locker, deadline) == std::cv_status::timeout)
            return false;
    }
}

bool EmulatedBus::waitUntilAbsent(DeviceId id, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> locker(d->lock);
    for (;;) {
        const auto found = d->devices.find(id);
        if (found == d->devices.end() || !found->second.node)
            return true;
        if (d->changed.wait_until(locker, deadline) == std::cv_status::timeout)
            return false;
    }
}

void EmulatedBus::unplug(DeviceId id)
{
    std::unique_lock<std::mutex> locker(d->lock);
    const auto found = d->devices.find(id);
    if (found == d->devices.end())
        return;
    Private::cancelReturn(found->second);
    if (found->second.node)
        d->removeNode(*found->second.node);
}

void EmulatedBus::replug(DeviceId id)
{
    std::unique_lock<std::mutex> locker(d->lock);
    const auto found = d->devices.find(id);
    if (found == d->devices.end())
        return;
    Private::cancelReturn(found->second);
    if (!found->second.node)
        d->plugSlot(id, found->second);
}

void EmulatedBus::unplugAll()
{
    std::unique_lock<std::mutex> locker(d->lock);
    for (auto &entry : d->devices) {
        Private::cancelReturn(entry.second);
        if (entry.second.node)
            d->removeNode(*entry.second.node);
    }
    d->devices.clear();
}

void EmulatedBus::setDepartureListener(DepartureListener listener)
{
    std::unique_lock<std::mutex> locker(d->lock);
    d->listener = std::move(listener);
}

EmulatedBus::ClaimRecord EmulatedBus::claimRecord(DeviceId id) const
{
    std::unique_lock<std::mutex> locker(d->lock);
    const auto found = d->devices.find(id);
    if (found == d->devices.end())
        return ClaimRecord();
    return ClaimRecord{int(found->second.claimants.size()), found->second.refusals};
}

Node *EmulatedBus::Private::addNode(DeviceId id, int port, int devnum,
                                   const std::shared_ptr<SimulatedDevice> &device)
{
    auto node = std::make_unique<Node>();
    node->id = id;
    node->devnum = devnum;
    node->device = device;
    const QByteArray number = QByteArray::number(devnum).rightJustified(3, '0');
    const QByteArray bus = QByteArray::number(BusNumber).rightJustified(3, '0');
    const QByteArray nodeName = "bus/usb/" + bus + '/' + number;
    node->devnode = "/dev/" + nodeName;
    QByteArray devpath = QByteArray(ControllerPath) + "/usb" + QByteArray::number(BusNumber);
    if (device)
        devpath += '/' + QByteArray::number(BusNumber) + '-' + QByteArray::number(port);
    node->syspath = "/sys" + devpath;
    const QByteArray descriptors =
        device ? device->usbfsDescriptors()
               : QByteArray(reinterpret_cast<const char *>(RootHubDescriptors),
                            int(sizeof(RootHubDescriptors)));
    const int minor = (BusNumber - 1) * MinorsPerBus + devnum - 1;

    QByteArray description;
    description += "P: " + devpath + '\n';
    // umockdev reads the node contents only in upper-case hex.
    description += "N: " + nodeName + '=' + descriptors.toHex().toUpper() + '\n';
    description += "E: DEVNAME=" + node->devnode + '\n';
    description += "E: DEVTYPE=usb_device\n";
    description += "E: SUBSYSTEM=usb\n";
    description += "E: BUSNUM=" + bus + '\n';
    description += "E: DEVNUM=" + number + '\n';
    description += "A: busnum=" + QByteArray::number(BusNumber) + '\n';
    description += "A: devnum=" + QByteArray::number(devnum) + '\n';
    description += "A: dev=" + QByteArray::number(UsbDeviceMajor) + ':' + QByteArray::number(minor)
                   + '\n';
    description += "A: speed=" + QByteArray::number(device ? FullSpeedMbps : HighSpeedMbps) + '\n';

    node->handler = umockdev_ioctl_base_new();
    node->handlerId = g_signal_connect_data(node->handler, "handle-ioctl",
                                            G_CALLBACK(onHandleIoctl),
                                            new HandlerLink{shared_from_this(), node.get()},
                                            releaseHandlerLink, GConnectFlags(0));
    // The ioctl socket must exist before the node does: a host that opens the node without it
    // would treat it as a plain file for good. A node's socket stays until its number is given
    // out again (see removeNode()).
    GError *error = nullptr;
    for (const auto &old : nodes)
        if (old->attached && old->devnode == node->devnode &&
            umockdev_testbed_detach_ioctl(testbed, old->devnode.constData(), nullptr))
            old->attached = false;
    if (!umockdev_testbed_attach_ioctl(testbed, node->devnode.constData(), node->handler, &error))
        qFatal("EmulatedBus: cannot attach to %s: %s", node->devnode.constData(), error->message);
    if (!umockdev_testbed_add_from_string(testbed, description.constData(), &error))
        qFatal("EmulatedBus: cannot add %s: %s", node->devnode.constData(), error->message);
    node->present = true;
    node->attached = true;
    nodes.push_back(std::move(node));
    changed.notify_all();
    return nodes.back().get();
}

void EmulatedBus::Private::removeNode(Node &node)
{
    node.present = false;
    // The node's ioctl socket stays: umockdev's library connects to it inside open(), and a
    // connection not yet accepted when the socket goes makes the host abort at its next request
    // on the node. Accepted, the host's requests on the node fail with ENODEV, as usbfs has it.
    umockdev_testbed_remove_device(testbed, node.syspath.constData());
    // Transfers still waiting for their timeout end now (changed), as they do when a cable is
    // pulled.
    const auto found = devices.find(node.id);
    if (found != devices.end() && found->second.node == &node)
        found->second.node = nullptr;
    changed.notify_all();
}

bool EmulatedBus::Private::plugSlot(DeviceId id, Slot &slot)
{
    const int devnum = allocateDevnum();
    if (devnum == 0) {
        qWarning("EmulatedBus: no free device number on bus %d", BusNumber);
        return false;
    }
    slot.node = addNode(id, slot.port, devnum, slot.device);
    return true;
}

// Like the kernel, hand out the numbers in turn and wrap round, so that a device that
// returns never gets the number it had: libusb 0.1 tells devices apart by node name alone.
int EmulatedBus::Private::allocateDevnum()
{
    const int range = LastDevnum - FirstDeviceDevnum + 1;
    for (int step = 1; step <= range; ++step) {
        const int candidate = FirstDeviceDevnum + (lastDevnum - FirstDeviceDevnum + step) % range;
        bool taken = false;
        for (const auto &entry : devices)
            taken = taken || (entry.second.node && entry.second.node->devnum == candidate);
        if (!taken) {
            lastDevnum = candidate;
            return candidate;
        }
    }
    return 0;
}

int EmulatedBus::Private::freePort() const
{
    int port = 1;
    for (bool taken = true; taken; ++port) {
        taken = false;
        for (const auto &entry : devices)
            taken = taken || entry.second.port == port;
        if (!taken)
            return port;
    }
    return port;
}

void EmulatedBus::Private::scheduleReturn(DeviceId id, Slot &slot, int delayMs)
{
    cancelReturn(slot);
    GSource *source = g_timeout_source_new(guint(delayMs));
    g_source_set_callback(source, onReturnDue, new ReturnLink{shared_from_this(), id},
                          releaseReturnLink);
    g_source_attach(source, handlerContext);
    slot.returnTimer = source;
}

void EmulatedBus::Private::cancelReturn(Slot &slot)
{
    if (!slot.returnTimer)
        return;
    g_source_destroy(slot.returnTimer);
    g_source_unref(slot.returnTimer);
    slot.returnTimer = nullptr;
}

gboolean EmulatedBus::Private::dispatch(Node &node, UMockdevIoctlClient *client)
{
    Reply reply;
    {
        std::unique_lock<std::mutex> locker(lock);
        if (!handlerContext)
            handlerContext = g_main_context_ref_thread_default();
        reply = closing || !node.present ? Reply{-1, ENODEV} : handle(node, client);
    }
    umockdev_ioctl_client_complete(client, reply.result, reply.error);
    return TRUE;
}

EmulatedBus::Private::Reply EmulatedBus::Private::handle(Node &node, UMockdevIoctlClient *client)
{
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);
    const gulong request = umockdev_ioctl_client_get_request(client);
    // usbfs takes no request on a node opened read-only, which is all a user without access gets.
    if (node.device && node.device->refusesAccess())
        return Reply{-1, EPERM};
    switch (request) {
    case USBDEVFS_CONNECTINFO: {
        IoctlDataPointer data = resolve(argument, 0, sizeof(usbdevfs_connectinfo));
        if (!data)
            return Reply{-1, EFAULT};
        usbdevfs_connectinfo info{};
        info.devnum = unsigned(node.devnum);
        umockdev_ioctl_data_update(data.get(), 0, reinterpret_cast<guint8 *>(&info), sizeof(info));
        return Reply();
    }
    case USBDEVFS_IOCTL:
        // Nothing on this bus answers hub queries; libusb then takes each device as a leaf.
        return Reply{-1, ENOSYS};
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_CONTROL:
        // These come through the control socket; one here means the program runs without the
        // control-transfer library.
        qWarning("EmulatedBus: a request on %s bypassed %s", node.devnode.constData(),
                 PreloadEnvironment::ControlLibrary);
        return Reply{-1, ENOSYS};
    case USBDEVFS_SUBMITURB:
        // The device offers its bulk endpoints but takes no bulk traffic: it stalls them.
        return Reply{-1, EPIPE};
    default:
        return Reply{-1, ENOTTY};
    }
}

// The node the host opened, while it is on the bus: the index in nodes (which keeps every
// node for the bus's life), or -1 for a node that is gone, whose transfers all fail.
int EmulatedBus::Private::bindNode(int busNumber, int deviceNumber)
{
    std::unique_lock<std::mutex> locker(lock);
    if (busNumber != BusNumber)
        return -1;
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i]->present && nodes[i]->devnum == deviceNumber)
            return int(i);
    return -1;
}

Answer EmulatedBus::Private::serve(const Host &host, const ControlChannel::Request &request)
{
    using ControlWire::Operation;
    std::unique_lock<std::mutex> locker(lock);
    if (host.node < 0 || std::size_t(host.node) >= nodes.size() || closing ||
        !nodes[std::size_t(host.node)]->present)
        return Answer{-1, ENODEV, {}};
    Node &node = *nodes[std::size_t(host.node)];
    // The root hub answers no request of ours; usbfs takes no request on a node opened
    // read-only, which is all a user without access gets.
    if (!node.device)
        return Answer{-1, request.operation == Operation::Control ? EPIPE : ENOTTY, {}};
    if (node.device->refusesAccess())
        return Answer{-1, EPERM, {}};
    switch (request.operation) {
    case Operation::SetConfiguration:
        return configure(node, host, request.number);
    case Operation::ClaimInterface:
        return claim(node, host, request.number);
    case Operation::ReleaseInterface: {
        const auto held = node.claims.find(request.number);
        if (held == node.claims.end() || held->second.connection != host.connection)
            return Answer{-1, EINVAL, {}};
        node.claims.erase(held);
        return Answer();
    }
    case Operation::Control:
        break;
    }
    return control(node, host, request, &locker);
}

// usbfs selects a configuration only while no interface is claimed, by anyone: the caller's own
// claim counts too.
Answer EmulatedBus::Private::configure(Node &node, const Host &host, unsigned configuration)
{
    if (!node.claims.empty())
        return refuse(node, host, "SETCONFIGURATION", node.claims.begin());
    if (!node.device->setConfiguration(int(configuration)))
        return Answer{-1, EPIPE, {}};
    devices[node.id].claimants.insert(host.process);
    return Answer();
}

Answer EmulatedBus::Private::claim(Node &node, const Host &host, unsigned interfaceNumber)
{
    const auto held = node.claims.find(interfaceNumber);
    if (held != node.claims.end() && held->second.connection != host.connection)
        return refuse(node, host, "CLAIMINTERFACE", held);
    if (!node.device->claimInterface(int(interfaceNumber)))
        return Answer{-1, ENOENT, {}};
    node.claims[interfaceNumber] = Claim{host.connection, host.process};
    devices[node.id].claimants.insert(host.process);
    return Answer();
}

Answer EmulatedBus::Private::refuse(Node &node, const Host &host, const char *request,
                                    std::map<unsigned, Claim>::const_iterator held)
{
    devices[node.id].refusals.append(EmulatedBus::ClaimRefusal{
        request, node.devnode, host.process, held->first, held->second.process});
    return Answer{-1, EBUSY, {}};
}

// With the bus locked. The departure listener runs under the lock: the device may return and
// take transfers at once, on another connection.
Answer EmulatedBus::Private::control(Node &node, const Host &host,
                                     const ControlChannel::Request &request,
                                     std::unique_lock<std::mutex> *locker)
{
    const TransferOutcome outcome = node.device->controlTransfer(
        request.setup, request.outData, request.timeoutMs, host.process);
    Answer answer{-1, outcome.hostErrno(), {}};
    if (outcome.status == TransferOutcome::Status::Completed) {
        answer = Answer{outcome.transferred, 0, request.setup.isIn() ? outcome.data : QByteArray()};
    } else if (outcome.status == TransferOutcome::Status::TimedOut) {
        // Only this handle waits; a device that leaves the bus meanwhile ends the wait, as a
        // pulled cable does.
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(qMax(outcome.delayMs, 0));
        while (!closing && node.present &&
               changed.wait_until(*locker, deadline) == std::cv_status::no_timeout) {
        }
        if (closing || !node.present)
            answer.error = ENODEV;
    }
    // A device that acknowledges first and only then resets may vanish before the host reads
    // the answer.
    if (outcome.leavesBus && !closing && node.present) {
        depart(node, outcome.returnAfterMs);
        if (listener)
            listener(node.id, *node.device);
    }
    return answer;
}

// The file is closed, or its process has ended: its claims go.
void EmulatedBus::Private::endConnection(const Host &host)
{
    std::unique_lock<std::mutex> locker(lock);
    if (host.node < 0 || std::size_t(host.node) >= nodes.size())
        return;
    auto &claims = nodes[std::size_t(host.node)]->claims;
    for (auto it = claims.begin(); it != claims.end();)
        it = it->second.connection == host.connection ? claims.erase(it) : std::next(it);
}

void EmulatedBus::Private::depart(Node &node, int returnAfterMs)
{
    removeNode(node);
    const auto found = devices.find(node.id);
    if (found != devices.end() && returnAfterMs >= 0)
        scheduleReturn(node.id, found->second, returnAfterMs);
}

gboolean EmulatedBus::Private::onHandleIoctl(UMockdevIoctlBase *handler,
                                             UMockdevIoctlClient *client, gpointer data)
{
    Q_UNUSED(handler);
    const auto *link = static_cast<HandlerLink *>(data);
    return link->bus->dispatch(*link->node, client);
}

void EmulatedBus::Private::releaseHandlerLink(gpointer data, GClosure *closure)
{
    Q_UNUSED(closure);
    delete static_cast<HandlerLink *>(data);
}

gboolean EmulatedBus::Private::onReturnDue(gpointer data)
{
    const auto *link = static_cast<ReturnLink *>(data);
    Private &bus = *link->bus;
    std::unique_lock<std::mutex> locker(bus.lock);
    const auto found = bus.devices.find(link->id);
    if (bus.closing || found == bus.devices.end()
        || found->second.returnTimer != g_main_current_source())
        return G_SOURCE_REMOVE;
    g_source_unref(found->second.returnTimer);
    found->second.returnTimer = nullptr;
    if (!found->second.node)
        bus.plugSlot(link->id, found->second);
    return G_SOURCE_REMOVE;
}

void EmulatedBus::Private::releaseReturnLink(gpointer data)
{
    delete static_cast<ReturnLink *>(data);
}
