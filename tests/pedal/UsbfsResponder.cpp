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

//==============================================================================
void UsbfsResponder::plugIn()
{
    const std::lock_guard<std::mutex> lock (mutex);
    present = true;
    activeConfiguration = description.startingConfiguration();
    alternateSetting = 0;
    firmware->powerCycled();
}

void UsbfsResponder::pullOut()
{
    const std::lock_guard<std::mutex> lock (mutex);
    pullOutLocked();
}

void UsbfsResponder::pullOutLocked()
{
    if (! present)
        return;

    present = false;

    for (auto& urb : urbs)
        if (! urb.done)
            finish (urb, -ESHUTDOWN);

    for (auto& entry : clients)
    {
        entry.second.gone = true;
        entry.second.claimed = false;
    }

    firmware->powerCycled();
}

int UsbfsResponder::getActiveConfiguration() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return activeConfiguration;
}

std::vector<UsbfsResponder::ControlRequest> UsbfsResponder::getControlRequests() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return controlRequests;
}

int UsbfsResponder::countPendingUrbs() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return (int) std::count_if (urbs.begin(), urbs.end(), [] (const Urb& urb) { return ! urb.done; });
}

//==============================================================================
bool UsbfsResponder::handle (UMockdevIoctlClient* client)
{
    const auto request = umockdev_ioctl_client_get_request (client);
    auto* arg = umockdev_ioctl_client_get_arg (client);
    const std::lock_guard<std::mutex> lock (mutex);
    auto& info = clientInfo (client);

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
        return reap (client, arg);

    if (request == USBDEVFS_DISCARDURB)
        return complete (client, discard (client, arg));

    if (info.gone || ! present)
        return complete (client, ENODEV);

    if (request == USBDEVFS_SUBMITURB)
        return complete (client, submit (client, arg));

    if (request == USBDEVFS_GETDRIVER)
        return complete (client, ENODATA);

    if (request == USBDEVFS_CLEAR_HALT || request == USBDEVFS_RESET || request == USBDEVFS_RESETEP)
        return complete (client, 0);

    // The rest point at one int, or two for an alternate setting.
    const auto known = request == USBDEVFS_GET_CAPABILITIES || request == USBDEVFS_SETCONFIGURATION
                    || request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE
                    || request == USBDEVFS_SETINTERFACE;
    const DataRef value (known ? resolve (arg, 0, (request == USBDEVFS_SETINTERFACE ? 2 : 1) * sizeof (int)) : nullptr);

    if (value == nullptr)
        return complete (client, known ? EFAULT : ENOTTY);

    auto* ints = reinterpret_cast<int*> (value->data);

    switch (request)
    {
        case USBDEVFS_GET_CAPABILITIES:
            *reinterpret_cast<juce::uint32*> (ints) = capabilities;
            return complete (client, 0);

        case USBDEVFS_SETCONFIGURATION:
            return complete (client, setConfiguration (ints[0]));

        case USBDEVFS_CLAIMINTERFACE:
        {
            const auto error = ints[0] != 0 ? ENOENT : claim (client);
            controlRequests.push_back ({ ControlRequest::Kind::claimInterface, ints[0], 0, error });
            return complete (client, error);
        }

        case USBDEVFS_RELEASEINTERFACE:
        {
            const auto error = ints[0] == 0 && info.claimed ? 0 : EINVAL;
            info.claimed = info.claimed && error != 0;
            controlRequests.push_back ({ ControlRequest::Kind::releaseInterface, ints[0], 0, error });
            return complete (client, error);
        }

        default:
            return complete (client, setInterface (ints[0], ints[1]));
    }
}

int UsbfsResponder::setConfiguration (int value)
{
    auto error = 0;

    if (std::any_of (clients.begin(), clients.end(), [] (const auto& entry) { return entry.second.claimed; }))
        error = EBUSY;
    else if (value > 0 && description.findConfiguration (value) == nullptr)
        error = EINVAL;

    controlRequests.push_back ({ ControlRequest::Kind::setConfiguration, value, 0, error });

    if (error == 0)
    {
        activeConfiguration = value > 0 ? value : -1;
        alternateSetting = 0;

        // libusb reads the active configuration from sysfs, where the kernel keeps it.
        std::ofstream (configurationAttribute.getFullPathName().toStdString()) << (value > 0 ? std::to_string (value) + "\n" : "");
    }

    return error;
}

int UsbfsResponder::claim (UMockdevIoctlClient* client)
{
    const auto* configuration = description.findConfiguration (activeConfiguration);

    if (configuration == nullptr || configuration->alternateSettings.empty())
        return ENOENT;

    for (auto& entry : clients)
        if (entry.first != client && entry.second.claimed)
            return EBUSY;

    clients[client].claimed = true;
    return 0;
}

int UsbfsResponder::setInterface (int interfaceNumber, int alternate)
{
    const auto* configuration = description.findConfiguration (activeConfiguration);
    const auto valid = interfaceNumber == 0 && configuration != nullptr
                    && alternate >= 0 && alternate < (int) configuration->alternateSettings.size();

    if (valid)
        alternateSetting = alternate;

    controlRequests.push_back ({ ControlRequest::Kind::setInterface, interfaceNumber, alternate, valid ? 0 : EINVAL });
    return valid ? 0 : EINVAL;
}

const UsbDeviceDescription::AlternateSetting* UsbfsResponder::currentSetting() const
{
    const auto* configuration = description.findConfiguration (activeConfiguration);

    if (configuration == nullptr || alternateSetting >= (int) configuration->alternateSettings.size())
        return nullptr;

    return &configuration->alternateSettings[(size_t) alternateSetting];
}

//==============================================================================
int UsbfsResponder::submit (UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    Urb urb;
    urb.client = client;
    urb.urb.reset (resolve (arg, 0, sizeof (usbdevfs_urb)));

    if (urb.urb == nullptr || headerOf (*urb.urb).buffer_length < 0)
        return EINVAL;

    const auto& header = headerOf (*urb.urb);
    urb.buffer.reset (resolve (urb.urb.get(), offsetof (usbdevfs_urb, buffer), (size_t) header.buffer_length));

    if (header.type == USBDEVFS_URB_TYPE_CONTROL)
    {
        if (urb.buffer == nullptr || header.buffer_length < setupPacketSize)
            return EINVAL;

        answerControl (urb);
        urbs.push_back (std::move (urb));
        return 0;
    }

    const auto* setting = currentSetting();

    if (setting == nullptr || std::count (setting->endpointAddresses.begin(), setting->endpointAddresses.end(), header.endpoint) == 0)
        return ENOENT;

    // The kernel claims the interface for a file that sends on it without claiming it first.
    if (const auto error = claim (client))
        return error;

    urbs.push_back (std::move (urb));

    if ((header.endpoint & 0x80) == 0)
    {
        auto& out = urbs.back();
        const auto answer = firmware->bulkOut (header.endpoint, out.buffer != nullptr ? out.buffer->data : nullptr, header.buffer_length);

        if (answer.kind == PedalFirmware::Answer::Kind::unplug)
        {
            pullOutLocked();
            pulledOut();
        }
        else if (answer.kind == PedalFirmware::Answer::Kind::done)
        {
            finish (out, answer.status);
            out.actualLength = answer.taken < 0 ? header.buffer_length : juce::jmin (answer.taken, header.buffer_length);
        }
    }

    serveInUrbs();
    return 0;
}

void UsbfsResponder::answerControl (Urb& urb)
{
    const auto* setup = urb.buffer->data;
    const auto value = setup[2] | (setup[3] << 8);
    const auto length = setup[6] | (setup[7] << 8);
    std::vector<juce::uint8> reply;

    if (setup[0] == 0x80 && setup[1] == 0x06)   // GET_DESCRIPTOR
        reply = description.descriptor (value >> 8, value & 0xff);

    if (reply.empty())
        return finish (urb, -EPIPE);

    reply.resize (juce::jmin (reply.size(), (size_t) length, (size_t) (headerOf (*urb.urb).buffer_length - setupPacketSize)));
    urb.dataOffset = setupPacketSize;
    finish (urb, 0, std::move (reply));
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
        {
            waiting.insert (header.endpoint);
        }
        else if (answer.kind == PedalFirmware::Answer::Kind::unplug)
        {
            pullOutLocked();
            pulledOut();
        }
        else
        {
            if ((int) answer.data.size() > header.buffer_length)
            {
                answer.data.resize ((size_t) header.buffer_length);
                answer.status = answer.status != 0 ? answer.status : -EOVERFLOW;
            }

            finish (urb, answer.status, std::move (answer.data));
        }
    }
}

void UsbfsResponder::finish (Urb& urb, int status, std::vector<juce::uint8> data)
{
    urb.done = true;
    urb.status = status;
    urb.actualLength = (int) data.size();
    urb.inData = std::move (data);
}

bool UsbfsResponder::reap (UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    serveInUrbs();
    const auto found = std::find_if (urbs.begin(), urbs.end(), [client] (const Urb& u) { return u.done && u.client == client; });

    if (found == urbs.end())
        return complete (client, clients[client].gone || ! present ? ENODEV : EAGAIN);

    const DataRef pointer (resolve (arg, 0, sizeof (void*)));

    if (pointer == nullptr)
        return complete (client, EFAULT);

    // The URB's copies must live until the answer has taken them back to the client.
    const auto urb = std::move (*found);
    urbs.erase (found);
    auto& header = headerOf (*urb.urb);
    header.status = urb.status;
    header.actual_length = urb.actualLength;

    if (urb.buffer != nullptr)
        std::copy (urb.inData.begin(), urb.inData.end(), urb.buffer->data + urb.dataOffset);

    umockdev_ioctl_data_set_ptr (pointer.get(), 0, urb.urb.get());
    return complete (client, 0);
}

int UsbfsResponder::discard (UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    const auto address = *reinterpret_cast<gulong*> (arg->data);

    for (auto& urb : urbs)
    {
        if (! urb.done && urb.client == client && urb.urb->client_addr == address)
        {
            finish (urb, -ENOENT);
            return 0;
        }
    }

    return EINVAL;
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
