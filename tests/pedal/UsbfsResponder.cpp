#include "UsbfsResponder.h"
#include "GObjectRef.h"

#include <umockdev.h>

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace
{
constexpr juce::uint32 capabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER
                                    | USBDEVFS_CAP_BULK_CONTINUATION
                                    | USBDEVFS_CAP_NO_PACKET_SIZE_LIM
                                    | USBDEVFS_CAP_REAP_AFTER_DISCONNECT
                                    | USBDEVFS_CAP_ZERO_PACKET;

constexpr int setupPacketSize = 8;

/** A local copy of client memory; null for a null pointer or a zero length. */
GObjectRef<UMockdevIoctlData> resolve (UMockdevIoctlData* parent, size_t offset, size_t length)
{
    GError* error = nullptr;
    auto resolved = GObjectRef<UMockdevIoctlData>::adopt (umockdev_ioctl_data_resolve (parent, offset, length, &error));

    if (error != nullptr)
    {
        DBG ("resolving ioctl data failed: " << error->message);
        g_error_free (error);
        return {};
    }

    return resolved;
}

/** The socket through which umockdev talks to the client, or null. umockdev 0.17 keeps the
    client's handler and then its stream first in its private data; the handler is checked
    so that another layout is never misread.
*/
GSocketConnection* connectionOf (UMockdevIoctlClient* client, UMockdevIoctlBase* handler)
{
    struct PrivateLayout
    {
        gpointer handler;
        gpointer stream;
    };

    const auto* layout = reinterpret_cast<const PrivateLayout*> (client->priv);

    if (layout == nullptr || layout->handler != handler || ! G_IS_SOCKET_CONNECTION (layout->stream))
        return nullptr;

    return G_SOCKET_CONNECTION (layout->stream);
}

/** umockdev notices a closed client only while it waits for the client's next ioctl. When a
    client dies while its answer is written, umockdev stops listening to it and would report it
    connected for ever, with its claims and URBs; its socket tells the truth.
*/
bool clientIsGone (UMockdevIoctlClient* client, UMockdevIoctlBase* handler)
{
    if (! umockdev_ioctl_client_get_connected (client))
        return true;

    auto* connection = connectionOf (client, handler);

    if (connection == nullptr)
        return false;

    pollfd peer { g_socket_get_fd (g_socket_connection_get_socket (connection)), POLLRDHUP, 0 };
    return poll (&peer, 1, 0) == 1 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

usbdevfs_urb& urbOf (UMockdevIoctlData* data) noexcept
{
    return *reinterpret_cast<usbdevfs_urb*> (data->data);
}
}

//==============================================================================
struct UsbfsResponder::State
{
    struct Client
    {
        GObjectRef<UMockdevIoctlClient> client;
        int generation = 0;
        std::set<int> claimedInterfaces;
    };

    struct Urb
    {
        GObjectRef<UMockdevIoctlClient> client;
        GObjectRef<UMockdevIoctlData> urbData;
        GObjectRef<UMockdevIoctlData> bufferData;
        juce::uint8 type = 0;
        juce::uint8 endpoint = 0;
        int bufferLength = 0;

        bool done = false;
        int status = 0;
        int actualLength = 0;
        size_t dataOffset = 0;
        std::vector<juce::uint8> inData;
    };

    State (const UsbDeviceDescription& d, std::shared_ptr<BulkFunction> f, Callbacks c)
        : description (d), function (std::move (f)), callbacks (std::move (c))
    {
    }

    //==============================================================================
    gboolean handle (UMockdevIoctlClient* client)
    {
        const auto request = umockdev_ioctl_client_get_request (client);
        auto* arg = umockdev_ioctl_client_get_arg (client);

        std::unique_lock<std::mutex> lock (mutex);
        forgetClosedClients (client);

        auto& info = clientInfo (client);
        const auto gone = ! present || info.generation != generation;

        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
        {
            serveInUrbs();
            finishUnlocked (lock);
            return reap (client, arg, gone);
        }

        if (request == USBDEVFS_DISCARDURB)
            return discard (client, arg);

        if (gone)
            return answer (client, ENODEV);

        switch (request)
        {
            case USBDEVFS_GET_CAPABILITIES:
            {
                auto value = resolve (arg, 0, sizeof (juce::uint32));

                if (! value)
                    return answer (client, EFAULT);

                *reinterpret_cast<juce::uint32*> (value->data) = capabilities;
                return answer (client, 0);
            }

            case USBDEVFS_SETCONFIGURATION:     return setConfiguration (client, arg, lock);
            case USBDEVFS_CLAIMINTERFACE:       return claimInterface (client, arg, info);
            case USBDEVFS_RELEASEINTERFACE:     return releaseInterface (client, arg, info);
            case USBDEVFS_SETINTERFACE:         return setInterface (client, arg);
            case USBDEVFS_SUBMITURB:            return submit (client, arg, info, lock);

            case USBDEVFS_CLEAR_HALT:
            {
                auto endpoint = resolve (arg, 0, sizeof (unsigned int));
                record ({ ControlRequest::Kind::clearHalt, endpoint ? (int) *reinterpret_cast<unsigned int*> (endpoint->data) : -1, 0, 0 });
                return answer (client, 0);
            }

            case USBDEVFS_RESET:
                record ({ ControlRequest::Kind::resetDevice, 0, 0, 0 });
                return answer (client, 0);

            case USBDEVFS_RESETEP:
                return answer (client, 0);

            case USBDEVFS_GETDRIVER:
                return answer (client, ENODATA);

            default:
                return answer (client, ENOTTY);
        }
    }

    void clientConnected (UMockdevIoctlClient* client)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        clientInfo (client);
    }

    //==============================================================================
    void plugIn()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        present = true;
        ++generation;
        activeConfiguration = description.initialConfiguration >= 0 ? description.initialConfiguration
                                                                    : description.firstConfigurationValue();
        alternateSetting = 0;
        function->powerCycled();
    }

    void pullOut()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        pullOutLocked();
    }

    void pullOutLocked()
    {
        if (! present)
            return;

        present = false;

        for (auto& urb : urbs)
            if (! urb.done)
                finish (urb, -ESHUTDOWN);

        function->powerCycled();
    }

    //==============================================================================
    Client& clientInfo (UMockdevIoctlClient* client)
    {
        auto found = clients.find (client);

        if (found == clients.end())
            found = clients.emplace (client, Client { GObjectRef<UMockdevIoctlClient>::share (client), generation, {} }).first;

        return found->second;
    }

    // A closed file gives up its claims and its URBs, as the kernel does on close.
    void forgetClosedClients (UMockdevIoctlClient* asking)
    {
        for (auto it = clients.begin(); it != clients.end();)
        {
            if (it->first == asking || ! clientIsGone (it->first, handler))
            {
                ++it;
                continue;
            }

            // Close what umockdev left open, as the kernel closes the file of a dead process.
            if (umockdev_ioctl_client_get_connected (it->first))
                if (auto* connection = connectionOf (it->first, handler))
                    g_io_stream_close (G_IO_STREAM (connection), nullptr, nullptr);

            urbs.erase (std::remove_if (urbs.begin(), urbs.end(),
                                        [client = it->first] (const Urb& urb) { return urb.client.get() == client; }),
                        urbs.end());
            it = clients.erase (it);
        }
    }

    gboolean answer (UMockdevIoctlClient* client, int error, long result = 0)
    {
        umockdev_ioctl_client_complete (client, error == 0 ? result : -1, error);
        return TRUE;
    }

    void record (ControlRequest request)
    {
        controlRequests.push_back (request);
    }

    // Files opened before the last unplug hold claims on a device that no longer exists.
    bool interfaceClaimedByAnyone() const
    {
        for (auto& entry : clients)
            if (entry.second.generation == generation && ! entry.second.claimedInterfaces.empty())
                return true;

        return false;
    }

    const UsbDeviceDescription::Configuration* activeConfigurationDescription() const
    {
        return description.findConfiguration (activeConfiguration);
    }

    const UsbDeviceDescription::AlternateSetting* currentAlternateSetting() const
    {
        if (auto* configuration = activeConfigurationDescription())
            if (alternateSetting < (int) configuration->alternateSettings.size())
                return &configuration->alternateSettings[(size_t) alternateSetting];

        return nullptr;
    }

    bool hasInterface (int interfaceNumber) const
    {
        auto* configuration = activeConfigurationDescription();
        return interfaceNumber == 0 && configuration != nullptr && ! configuration->alternateSettings.empty();
    }

    //==============================================================================
    gboolean setConfiguration (UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::unique_lock<std::mutex>& lock)
    {
        auto valueData = resolve (arg, 0, sizeof (int));

        if (! valueData)
            return answer (client, EFAULT);

        const auto value = *reinterpret_cast<int*> (valueData->data);
        auto error = 0;

        if (interfaceClaimedByAnyone())
            error = EBUSY;
        else if (value > 0 && description.findConfiguration (value) == nullptr)
            error = EINVAL;

        record ({ ControlRequest::Kind::setConfiguration, value, 0, error });

        if (error != 0)
            return answer (client, error);

        activeConfiguration = value > 0 ? value : -1;
        alternateSetting = 0;

        const auto changed = callbacks.configurationChanged;
        const auto newConfiguration = activeConfiguration;
        lock.unlock();

        if (changed)
            changed (newConfiguration);

        return answer (client, 0);
    }

    gboolean claimInterface (UMockdevIoctlClient* client, UMockdevIoctlData* arg, Client& info)
    {
        auto interfaceData = resolve (arg, 0, sizeof (unsigned int));

        if (! interfaceData)
            return answer (client, EFAULT);

        const auto interfaceNumber = (int) *reinterpret_cast<unsigned int*> (interfaceData->data);
        const auto error = claim (info, interfaceNumber);
        record ({ ControlRequest::Kind::claimInterface, interfaceNumber, 0, error });
        return answer (client, error);
    }

    int claim (Client& info, int interfaceNumber)
    {
        if (! hasInterface (interfaceNumber))
            return ENOENT;

        for (auto& entry : clients)
            if (&entry.second != &info && entry.second.generation == generation
                 && entry.second.claimedInterfaces.count (interfaceNumber) != 0)
                return EBUSY;

        info.claimedInterfaces.insert (interfaceNumber);
        return 0;
    }

    gboolean releaseInterface (UMockdevIoctlClient* client, UMockdevIoctlData* arg, Client& info)
    {
        auto interfaceData = resolve (arg, 0, sizeof (unsigned int));

        if (! interfaceData)
            return answer (client, EFAULT);

        const auto interfaceNumber = (int) *reinterpret_cast<unsigned int*> (interfaceData->data);
        const auto error = info.claimedInterfaces.erase (interfaceNumber) != 0 ? 0 : EINVAL;
        record ({ ControlRequest::Kind::releaseInterface, interfaceNumber, 0, error });
        return answer (client, error);
    }

    gboolean setInterface (UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        auto settingData = resolve (arg, 0, sizeof (usbdevfs_setinterface));

        if (! settingData)
            return answer (client, EFAULT);

        const auto& setting = *reinterpret_cast<usbdevfs_setinterface*> (settingData->data);
        const auto interfaceNumber = (int) setting.interface;
        const auto alternate = (int) setting.altsetting;
        auto error = 0;

        if (! hasInterface (interfaceNumber)
             || alternate >= (int) activeConfigurationDescription()->alternateSettings.size())
            error = EINVAL;
        else
            alternateSetting = alternate;

        record ({ ControlRequest::Kind::setInterface, interfaceNumber, alternate, error });
        return answer (client, error);
    }

    //==============================================================================
    gboolean submit (UMockdevIoctlClient* client, UMockdevIoctlData* arg, Client& info, std::unique_lock<std::mutex>& lock)
    {
        auto urbData = resolve (arg, 0, sizeof (usbdevfs_urb));

        if (! urbData)
            return answer (client, EFAULT);

        const auto& header = urbOf (urbData.get());

        Urb urb;
        urb.client = GObjectRef<UMockdevIoctlClient>::share (client);
        urb.type = header.type;
        urb.endpoint = header.endpoint;
        urb.bufferLength = header.buffer_length;

        if (header.buffer_length < 0)
            return answer (client, EINVAL);

        urb.bufferData = resolve (urbData.get(), offsetof (usbdevfs_urb, buffer), (size_t) header.buffer_length);
        urb.urbData = std::move (urbData);

        if (urb.type == USBDEVFS_URB_TYPE_CONTROL)
        {
            if (! urb.bufferData || urb.bufferLength < setupPacketSize)
                return answer (client, EINVAL);

            answerControl (urb);
            urbs.push_back (std::move (urb));
            return answer (client, 0);
        }

        if (urb.type != USBDEVFS_URB_TYPE_BULK && urb.type != USBDEVFS_URB_TYPE_INTERRUPT)
            return answer (client, EINVAL);

        if (! endpointExists (urb.endpoint))
            return answer (client, ENOENT);

        // The kernel claims the interface for a file that sends on it without claiming it first.
        if (const auto error = claim (info, 0))
            return answer (client, error);

        const auto isIn = (urb.endpoint & 0x80) != 0;
        urbs.push_back (std::move (urb));

        if (! isIn)
            serveOutUrb (urbs.back());

        serveInUrbs();
        finishUnlocked (lock);
        return answer (client, 0);
    }

    bool endpointExists (juce::uint8 endpoint) const
    {
        if (auto* setting = currentAlternateSetting())
            for (auto address : setting->endpointAddresses)
                if (address == endpoint)
                    return true;

        return false;
    }

    void answerControl (Urb& urb)
    {
        const auto* setup = urb.bufferData->data;
        const auto requestType = setup[0];
        const auto request = setup[1];
        const auto value = setup[2] | (setup[3] << 8);
        const auto length = setup[6] | (setup[7] << 8);

        std::vector<juce::uint8> reply;

        if (requestType == 0x80 && request == 0x06)
        {
            const auto type = value >> 8;
            const auto index = value & 0xff;

            if (type == 0x01)
                reply = description.deviceDescriptor();
            else if (type == 0x02 && index < (int) description.configurations.size())
                reply = description.configurationDescriptor ((size_t) index);
            else if (type == 0x03)
                reply = description.stringDescriptor ((juce::uint8) index);
        }

        if (reply.empty())
        {
            finish (urb, -EPIPE);
            return;
        }

        reply.resize (juce::jmin (reply.size(), (size_t) length, (size_t) (urb.bufferLength - setupPacketSize)));
        urb.dataOffset = setupPacketSize;
        finish (urb, 0, std::move (reply));
    }

    void serveOutUrb (Urb& urb)
    {
        const auto* bytes = urb.bufferData ? urb.bufferData->data : nullptr;
        const auto outcome = function->bulkOut (urb.endpoint, bytes, urb.bufferLength);

        switch (outcome.kind)
        {
            case BulkFunction::Outcome::Kind::pending:
                break;

            case BulkFunction::Outcome::Kind::unplug:
                pullOutByFunction();
                break;

            case BulkFunction::Outcome::Kind::complete:
                finish (urb, outcome.status);
                urb.actualLength = outcome.actualLength < 0 ? urb.bufferLength
                                                            : juce::jmin (outcome.actualLength, urb.bufferLength);
                break;
        }
    }

    // The oldest pending IN URB of each endpoint gets whatever the function has for it.
    void serveInUrbs()
    {
        std::set<juce::uint8> waitingEndpoints;

        for (auto& urb : urbs)
        {
            if (! present)
                return;

            if (urb.done || (urb.endpoint & 0x80) == 0 || urb.type == USBDEVFS_URB_TYPE_CONTROL
                 || waitingEndpoints.count (urb.endpoint) != 0)
                continue;

            auto outcome = function->bulkIn (urb.endpoint, urb.bufferLength);

            switch (outcome.kind)
            {
                case BulkFunction::Outcome::Kind::pending:
                    waitingEndpoints.insert (urb.endpoint);
                    break;

                case BulkFunction::Outcome::Kind::unplug:
                    pullOutByFunction();
                    return;

                case BulkFunction::Outcome::Kind::complete:
                {
                    auto status = outcome.status;

                    if ((int) outcome.data.size() > urb.bufferLength)
                    {
                        outcome.data.resize ((size_t) urb.bufferLength);
                        status = status != 0 ? status : -EOVERFLOW;
                    }

                    finish (urb, status, std::move (outcome.data));
                    break;
                }
            }
        }
    }

    void pullOutByFunction()
    {
        pullOutLocked();
        pulledOutPending = true;
    }

    // Runs what must not run under the lock; the lock stays released afterwards.
    void finishUnlocked (std::unique_lock<std::mutex>& lock)
    {
        const auto pulledOut = std::exchange (pulledOutPending, false);
        const auto callback = callbacks.pulledOutByFunction;
        lock.unlock();

        if (pulledOut && callback)
            callback();
    }

    static void finish (Urb& urb, int status, std::vector<juce::uint8> data = {})
    {
        urb.done = true;
        urb.status = status;
        urb.actualLength = (int) data.size();
        urb.inData = std::move (data);
    }

    //==============================================================================
    gboolean reap (UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool gone)
    {
        Urb urb;

        {
            const std::lock_guard<std::mutex> lock (mutex);
            auto found = std::find_if (urbs.begin(), urbs.end(),
                                       [client] (const Urb& u) { return u.done && u.client.get() == client; });

            if (found == urbs.end())
                return answer (client, gone ? ENODEV : EAGAIN);

            urb = std::move (*found);
            urbs.erase (found);
        }

        auto pointer = resolve (arg, 0, sizeof (void*));

        if (! pointer)
            return answer (client, EFAULT);

        auto& header = urbOf (urb.urbData.get());
        header.status = urb.status;
        header.actual_length = urb.actualLength;

        if (urb.bufferData && ! urb.inData.empty())
            std::copy (urb.inData.begin(), urb.inData.end(), urb.bufferData->data + urb.dataOffset);

        umockdev_ioctl_data_set_ptr (pointer.get(), 0, urb.urbData.get());
        return answer (client, 0);
    }

    gboolean discard (UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        const auto address = *reinterpret_cast<gulong*> (arg->data);

        for (auto& urb : urbs)
        {
            if (! urb.done && urb.client.get() == client && urb.urbData->client_addr == address)
            {
                finish (urb, -ENOENT);
                return answer (client, 0);
            }
        }

        return answer (client, EINVAL);
    }

    //==============================================================================
    const UsbDeviceDescription description;
    const std::shared_ptr<BulkFunction> function;
    const Callbacks callbacks;
    UMockdevIoctlBase* handler = nullptr;

    mutable std::mutex mutex;
    bool present = false;
    int generation = 0;
    int activeConfiguration = -1;
    int alternateSetting = 0;
    bool pulledOutPending = false;
    std::map<UMockdevIoctlClient*, Client> clients;
    std::deque<Urb> urbs;
    std::vector<ControlRequest> controlRequests;
};

//==============================================================================
UsbfsResponder::UsbfsResponder (const UsbDeviceDescription& description, std::shared_ptr<BulkFunction> function, Callbacks callbacks)
    : state (std::make_shared<State> (description, std::move (function), std::move (callbacks))),
      handler (umockdev_ioctl_base_new())
{
    state->handler = handler;

    using StateHandle = std::shared_ptr<State>;

    // Each signal keeps the state alive for as long as umockdev may still call it, so an
    // answer given while this object goes away never touches freed memory.
    const auto release = [] (gpointer data, GClosure*) { delete static_cast<StateHandle*> (data); };

    g_signal_connect_data (handler, "handle-ioctl",
                           G_CALLBACK (+[] (UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) -> gboolean
                           {
                               return (*static_cast<StateHandle*> (data))->handle (client);
                           }),
                           new StateHandle (state), release, GConnectFlags());

    g_signal_connect_data (handler, "client-connected",
                           G_CALLBACK (+[] (UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
                           {
                               (*static_cast<StateHandle*> (data))->clientConnected (client);
                           }),
                           new StateHandle (state), release, GConnectFlags());
}

UsbfsResponder::~UsbfsResponder()
{
    g_signal_handlers_destroy (handler);
    g_object_unref (handler);
}

UMockdevIoctlBase* UsbfsResponder::getIoctlHandler() const noexcept
{
    return handler;
}

void UsbfsResponder::plugIn()
{
    state->plugIn();
}

void UsbfsResponder::pullOut()
{
    state->pullOut();
}

bool UsbfsResponder::isPresent() const
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    return state->present;
}

int UsbfsResponder::getActiveConfiguration() const
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    return state->activeConfiguration;
}

std::vector<UsbfsResponder::ControlRequest> UsbfsResponder::getControlRequests() const
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    return state->controlRequests;
}

int UsbfsResponder::countPendingUrbs() const
{
    const std::lock_guard<std::mutex> lock (state->mutex);
    return (int) std::count_if (state->urbs.begin(), state->urbs.end(), [] (const State::Urb& urb) { return ! urb.done; });
}
