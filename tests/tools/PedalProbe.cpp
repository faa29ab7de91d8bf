// pedal_probe <vendor hex> <product hex> <reply time-out ms>
//
// Opens the first device with these ids, claims interface 0, sends the wave-information command
// on endpoint 0x01 and prints the answer read on 0x81 as hex bytes. Exit code 0 when the answer
// is 24 bytes long, 2 when it is not, 1 when the device cannot be used.

#include <libusb.h>

#include <cstdio>
#include <cstdlib>

int main (int argc, char** argv)
{
    if (argc != 4)
        return 1;

    const auto vendorId = (uint16_t) std::strtoul (argv[1], nullptr, 16);
    const auto productId = (uint16_t) std::strtoul (argv[2], nullptr, 16);
    const auto timeoutMs = (unsigned int) std::strtoul (argv[3], nullptr, 10);

    libusb_context* context = nullptr;

    if (libusb_init (&context) != 0)
        return 1;

    auto* handle = libusb_open_device_with_vid_pid (context, vendorId, productId);
    auto result = 1;

    if (handle != nullptr && libusb_claim_interface (handle, 0) == 0)
    {
        unsigned char command[8] { 'C', 'M', 'D', 0, 1, 0, 0, 0 };
        unsigned char reply[4096] {};
        int transferred = 0;

        libusb_bulk_transfer (handle, 0x01, command, sizeof (command), &transferred, 1000);
        const auto r = libusb_bulk_transfer (handle, 0x81, reply, sizeof (reply), &transferred, timeoutMs);

        if (r == 0)
        {
            for (int i = 0; i < transferred; ++i)
                std::printf ("%02x", reply[i]);

            std::printf ("\n");
        }
        else
        {
            std::printf ("error %d\n", r);
        }

        result = (r == 0 && transferred == 24) ? 0 : 2;
    }

    libusb_close (handle);
    libusb_exit (context);
    return result;
}
