#include "UsbfsResponder.h"

#include <umockdev.h>

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstddef>
#include <fstream>
#include <set>

namespace
{
using Kind = UsbfsResponder::ControlRequest::Kind;

constexpr juce::uint32 capabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION
                                    | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT
                                    | USBDEVFS_CAP_ZERO_PACKET;
constexpr int setupPacketSize = 8;

/** A local copy of the client's memory behind the pointer at this offset; null if unreadable. */
UMockdevIoctlData* resolve (UMockdevIoctlData* parent, size_t offset, size_t length)
{
    GError* error = nullptr;
    auto* resolved = umockdev_ioctl_data_resolve (parent, offset, length, &error);

    if (error != nullptr)
        g_error_free (error);

    return error != nullptr ? nullptr : resolved;
}

usbdevfs_urb& headerOf (const UMockdevIoctlData& urb)
{
    return *reinterpret_cast<usbdevfs_urb*> (urb.data);
}

bool complete (UMockdevIoctlClient* client, int error)
{
    umockdev_ioctl_client_complete (client, error == 0 ? 0 : -1, error);
    return true;
}
}

void UsbfsResponder::Unref::operator() (void* object) const
{
    g_object_unref (object);
}

UsbfsResponder::UsbfsResponder (const UsbDeviceDescription& d, std::shared_ptr<PedalFirmware> f, juce::File attribute, std::function<void()> callback)
    : description (d), firmware (std::move (f)), configurationAttribute (std::move (attribute)), pulledOut (std::move (callback))
{
}

void UsbfsResponder::serve (UMockdevIoctlBase* handler, std::shared_ptr<UsbfsResponder> responder)
{
    // The signal holds the responder, so an answer given while the pedal goes away never
    // touches freed memory.
    using Handle = std::shared_ptr<UsbfsResponder>;

    g_signal_connect_data (handler, "handle-ioctl",
                           G_CALLBACK (+[] (UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) -> gboolean
                           {
                               return (*static_cast<Handle*> (data))->handle (client);
                           }),
                           new Handle (std::move (responder)),
                           [] (gpointer data, GClosure*) { delete static_cast<Handle*> (data); }, GConnectFlags());
}

void UsbfsResponder::plugIn()
{
    const Lock l (mutex);
    present = true;
    activeConfiguration = description.startingConfiguration();
    alternateSetting = 0;
    firmware->powerCycled();
}

void UsbfsResponder::pullOutLocked (bool byFirmware)
{
    if (! present)
        return;

    present = false;

    for (auto& urb : urbs)
        if (! urb.done)
            finish (urb, -ESHUTDOWN, 0);

    for (auto& entry : clients)
        entry.second.gone = true;

    firmware->powerCycled();

    if (byFirmware)
        pulledOut();
}

//==============================================================================
bool UsbfsResponder::handle (UMockdevIoctlClient* client)
{
    const auto request = umockdev_ioctl_client_get_request (client);
    auto* arg = umockdev_ioctl_client_get_arg (client);
    const Lock l (mutex);
    auto& info = clientInfo (client);
    const auto gone = info.gone || ! present;

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
        return reap (client, gone, arg);

    if (request == USBDEVFS_DISCARDURB)
    {
        const auto address = *reinterpret_cast<gulong*> (arg->data);

        for (auto& urb : urbs)
        {
            if (! urb.done && urb.client == client && urb.urb->client_addr == address)
            {
                finish (urb, -ENOENT, 0);
                return complete (client, 0);
            }
        }

        return complete (client, EINVAL);
    }

    if (gone || request == USBDEVFS_GETDRIVER)
        return complete (client, gone ? ENODEV : ENODATA);

    if (request == USBDEVFS_SUBMITURB)
        return complete (client, submit (client, info, arg));

    if (request == USBDEVFS_CLEAR_HALT || request == USBDEVFS_RESET || request == USBDEVFS_RESETEP)
        return complete (client, 0);

    // The rest point at one int, or two for an alternate setting.
    const std::map<unsigned long, Kind> kinds { { USBDEVFS_SETCONFIGURATION, Kind::setConfiguration },
                                                { USBDEVFS_CLAIMINTERFACE, Kind::claimInterface },
                                                { USBDEVFS_RELEASEINTERFACE, Kind::releaseInterface },
                                                { USBDEVFS_SETINTERFACE, Kind::setInterface } };
    const auto kind = kinds.find (request);

    if (kind == kinds.end() && request != USBDEVFS_GET_CAPABILITIES)
        return complete (client, ENOTTY);

    const DataRef value (resolve (arg, 0, (request == USBDEVFS_SETINTERFACE ? 2 : 1) * sizeof (int)));

    if (value == nullptr)
        return complete (client, EFAULT);

    auto* ints = reinterpret_cast<int*> (value->data);

    if (kind == kinds.end())
    {
        *reinterpret_cast<juce::uint32*> (ints) = capabilities;
        return complete (client, 0);
    }

    return complete (client, control (kind->second, ints[0], kind->second == Kind::setInterface ? ints[1] : 0, info));
}

// The requests that set the device up, each recorded with its outcome.
int UsbfsResponder::control (Kind kind, int value, int alternate, Client& info)
{
    const auto* configuration = description.findConfiguration (kind == Kind::setConfiguration ? value : activeConfiguration);
    const auto settings = configuration != nullptr ? (int) configuration->alternateSettings.size() : 0;
    const auto claimedElsewhere = std::any_of (clients.begin(), clients.end(), [&] (const auto& entry)
    {
        return &entry.second != &info && entry.second.claimed && ! entry.second.gone;
    });
    auto error = 0;

    if (kind == Kind::setConfiguration)
        error = claimedElsewhere || info.claimed ? EBUSY : (value > 0 && configuration == nullptr ? EINVAL : 0);
    else if (kind == Kind::claimInterface)
        error = value != 0 || settings == 0 ? ENOENT : (claimedElsewhere ? EBUSY : 0);
    else if (kind == Kind::releaseInterface)
        error = value == 0 && info.claimed ? 0 : EINVAL;
    else
        error = value == 0 && alternate >= 0 && alternate < settings ? 0 : EINVAL;

    controlRequests.push_back ({ kind, value, alternate, error });

    if (error != 0)
        return error;

    if (kind == Kind::setConfiguration)
    {
        activeConfiguration = value > 0 ? value : -1;

        // libusb reads the active configuration from sysfs, where the kernel keeps it.
        std::ofstream (configurationAttribute.getFullPathName().toStdString()) << (value > 0 ? std::to_string (value) + "\n" : "");
    }

    if (kind == Kind::setConfiguration || kind == Kind::setInterface)
        alternateSetting = alternate;

    info.claimed = kind == Kind::claimInterface || (info.claimed && kind != Kind::releaseInterface);
    return 0;
}

//==============================================================================
int UsbfsResponder::submit (UMockdevIoctlClient* client, Client& info, UMockdevIoctlData* arg)
{
    Urb urb { client, DataRef (resolve (arg, 0, sizeof (usbdevfs_urb))), {}, false };

    if (urb.urb == nullptr || headerOf (*urb.urb).buffer_length < 0)
        return EINVAL;

    const auto& header = headerOf (*urb.urb);
    const auto length = header.buffer_length;
    urb.buffer.reset (resolve (urb.urb.get(), offsetof (usbdevfs_urb, buffer), (size_t) length));

    if (header.type == USBDEVFS_URB_TYPE_CONTROL)
    {
        if (urb.buffer == nullptr || length < setupPacketSize)
            return EINVAL;

        const auto* setup = urb.buffer->data;
        auto reply = setup[0] == 0x80 && setup[1] == 0x06 ? description.descriptor (setup[3], setup[2]) : std::vector<juce::uint8>();
        reply.resize (juce::jmin (reply.size(), (size_t) (setup[6] | (setup[7] << 8)), (size_t) (length - setupPacketSize)));
        finish (urb, reply.empty() ? -EPIPE : 0, (int) reply.size(), reply, setupPacketSize);
        urbs.push_back (std::move (urb));
        return 0;
    }

    const auto* configuration = description.findConfiguration (activeConfiguration);

    if (configuration == nullptr || alternateSetting >= (int) configuration->alternateSettings.size()
         || std::count (configuration->alternateSettings[(size_t) alternateSetting].endpointAddresses.begin(),
                        configuration->alternateSettings[(size_t) alternateSetting].endpointAddresses.end(), header.endpoint) == 0)
        return ENOENT;

    // The kernel claims the interface for a file that sends on it without claiming it first.
    if (! info.claimed)
        if (const auto error = control (Kind::claimInterface, 0, 0, info))
            return error;

    urbs.push_back (std::move (urb));
    auto& out = urbs.back();

    if ((header.endpoint & 0x80) == 0)
    {
        const auto answer = firmware->bulkOut (header.endpoint, out.buffer != nullptr ? out.buffer->data : nullptr, length);

        if (answer.kind == PedalFirmware::Answer::Kind::unplug)
            pullOutLocked (true);
        else if (answer.kind == PedalFirmware::Answer::Kind::done)
            finish (out, answer.status, answer.taken < 0 ? length : juce::jmin (answer.taken, length));
    }

    serveInUrbs();
    return 0;
}

// The oldest pending IN URB of each endpoint gets whatever the firmware has for it.
void UsbfsResponder::serveInUrbs()
{
    std::set<int> waiting;

    for (auto& urb : urbs)
    {
        const auto& header = headerOf (*urb.urb);

        if (! present)
            return;

        if (urb.done || header.type == USBDEVFS_URB_TYPE_CONTROL || (header.endpoint & 0x80) == 0 || waiting.count (header.endpoint) != 0)
            continue;

        auto answer = firmware->bulkIn (header.endpoint, header.buffer_length);

        if (answer.kind == PedalFirmware::Answer::Kind::waiting)
            waiting.insert (header.endpoint);
        else if (answer.kind == PedalFirmware::Answer::Kind::unplug)
            pullOutLocked (true);
        else if ((int) answer.data.size() > header.buffer_length)
            finish (urb, answer.status != 0 ? answer.status : -EOVERFLOW, header.buffer_length, answer.data);
        else
            finish (urb, answer.status, (int) answer.data.size(), answer.data);
    }
}

void UsbfsResponder::finish (Urb& urb, int status, int length, const std::vector<juce::uint8>& data, size_t offset)
{
    urb.done = true;
    headerOf (*urb.urb).status = status;
    headerOf (*urb.urb).actual_length = length;

    if (urb.buffer != nullptr && ! data.empty())
        std::copy (data.begin(), data.begin() + length, urb.buffer->data + offset);
}

bool UsbfsResponder::reap (UMockdevIoctlClient* client, bool gone, UMockdevIoctlData* arg)
{
    serveInUrbs();
    const auto found = std::find_if (urbs.begin(), urbs.end(), [client] (const Urb& u) { return u.done && u.client == client; });
    const DataRef pointer (found != urbs.end() ? resolve (arg, 0, sizeof (void*)) : nullptr);

    if (pointer == nullptr)
        return complete (client, found != urbs.end() ? EFAULT : (gone || ! present ? ENODEV : EAGAIN));

    // The URB's copies must live until the answer has taken them back to the client.
    const auto urb = std::move (*found);
    urbs.erase (found);
    umockdev_ioctl_data_set_ptr (pointer.get(), 0, urb.urb.get());
    return complete (client, 0);
}

UsbfsResponder::Client& UsbfsResponder::clientInfo (UMockdevIoctlClient* client)
{
    // A closed file gives up its claims and its URBs, as the kernel does on close.
    for (auto it = clients.begin(); it != clients.end();)
    {
        if (it->first == client || umockdev_ioctl_client_get_connected (it->first))
        {
            ++it;
            continue;
        }

        urbs.erase (std::remove_if (urbs.begin(), urbs.end(), [&] (const Urb& urb) { return urb.client == it->first; }), urbs.end());
        it = clients.erase (it);
    }

    auto& info = clients[client];

    if (info.ref == nullptr)
        info.ref.reset (static_cast<UMockdevIoctlClient*> (g_object_ref (client)));

    return info;
}
