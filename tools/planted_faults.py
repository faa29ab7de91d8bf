#!/usr/bin/env python3
"""Planted-fault check: puts one realistic fault at a time into the program, runs the suite,
and reports which faults no test caught.

    tools/planted_faults.py [--build DIR] [--ctest-args "..."] [--only ID,ID] [--list]

Each fault is an exact text replacement that must match once. The tree is restored after each
fault (git checkout of the file), also when interrupted.
"""
import argparse, json, os, subprocess, sys, time

FAULTS = [
    # id, file, old, new
    # The pedal's protocol
    ("size-limit-shift", "app/PedalProtocol.cpp", ") >> 3;", ") >> 2;"),
    ("waveinfo-rate-offset", "app/PedalProtocol.cpp", "info.sampleRateHz      = ByteOrder::littleEndianInt (bytes + 8);", "info.sampleRateHz      = ByteOrder::littleEndianInt (bytes + 4);"),
    ("waveinfo-chunk-offset", "app/PedalProtocol.cpp", "info.transferChunkSize = ByteOrder::littleEndianInt (bytes + 20);", "info.transferChunkSize = ByteOrder::littleEndianInt (bytes + 16);"),
    ("command-magic", "app/PedalProtocol.cpp", "{ 'C', 'M', 'D', 0 }", "{ 'C', 'M', 'D', ' ' }"),
    ("phrase-command-size", "app/PedalProtocol.cpp", "command.size = 16;", "command.size = 12;"),
    ("timeout-command", "app/PedalProtocol.h", "commandMs { 1000 }", "commandMs { 3000 }"),
    ("timeout-export-chunk", "app/PedalProtocol.h", "exportChunkMs { 1000 }", "exportChunkMs { 5000 }"),
    ("timeout-import-chunk", "app/PedalProtocol.h", "importChunkMs { 60000 }", "importChunkMs { 1000 }"),
    ("timeout-counts-as-success", "app/PedalProtocol.cpp", "return result == 0 ? transferred", "return result == 0 || result == LIBUSB_ERROR_TIMEOUT ? transferred"),
    ("error-code-digits", "app/PedalProtocol.cpp", "\"Error Code %08x\"", "\"Error Code %x\""),
    ("devinfo-empty-accepted", "app/PedalProtocol.cpp", "if (reply.result < 1)", "if (reply.result < 0)"),
    ("waveinfo-long-accepted", "app/PedalProtocol.cpp", "if (reply.result != WaveInfo::wireSize)", "if (reply.result < WaveInfo::wireSize)"),
    ("default-in-endpoint", "app/PedalProtocol.cpp", "device.inEndpoint = 0x81;", "device.inEndpoint = 0x82;"),
    # The USB device
    ("out-endpoint-range", "juce_myModule/usb/KuvLibUSB_Device.cpp", "address <= 0x0f", "address <= 0x8f"),
    ("in-endpoint-range", "juce_myModule/usb/KuvLibUSB_Device.cpp", "(address & 0xf0) == 0x80", "(address & 0x80) == 0x80"),
    ("set-configuration-always", "juce_myModule/usb/KuvLibUSB_Device.cpp", "bNumConfigurations >= 2", "bNumConfigurations >= 1"),
    ("any-position-or", "juce_myModule/usb/KuvLibUSB_Device.cpp", "busNumber == 0xff && deviceAddress == 0xff", "busNumber == 0xff || deviceAddress == 0xff"),
    ("address-not-matched", "juce_myModule/usb/KuvLibUSB_Device.cpp", "\n                               || libusb_get_device_address (entry) != deviceAddress))", "))"),
    ("alt-setting-one", "juce_myModule/usb/KuvLibUSB_Device.cpp", "libusb_set_interface_alt_setting (deviceHandle, 0, 0)", "libusb_set_interface_alt_setting (deviceHandle, 0, 1)"),
    ("device-not-closed", "juce_myModule/usb/KuvLibUSB_Device.cpp", "    libusb_close (deviceHandle);\n    deviceHandle = nullptr;\n    endpointAddresses.clear();", "    deviceHandle = nullptr;\n    endpointAddresses.clear();"),
    ("claims-interface-one", "juce_myModule/usb/KuvLibUSB_Device.cpp", "libusb_claim_interface (deviceHandle, 0)", "libusb_claim_interface (deviceHandle, 1)"),
    # The USB manager and hot-plug
    ("listener-walk-unlocked", "juce_myModule/usb/KuvLibUSBManager.cpp", "    const ScopedLock sl (listenerLock);\n\n    for (int i = 0;", "    for (int i = 0;"),
    ("departure-reported-as-arrival", "juce_myModule/usb/KuvLibUSBManager.cpp", "callListeners (deviceLeft);", "callListeners (deviceArrived);"),
    ("hotplug-any-product", "juce_myModule/usb/KuvLibUSBManager.cpp", "LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,\n                                                               0, vendorId, productId,", "LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,\n                                                               0, vendorId, LIBUSB_HOTPLUG_MATCH_ANY,"),
    ("hotplug-event-bits-swapped", "app/HandOverTimer.cpp", "uiRequestFlags.set (UiRequestFlags::pendingArrival);", "uiRequestFlags.set (UiRequestFlags::pendingDeparture);"),
    # Device scan
    ("scan-vendor-only", "app/DeviceScan.cpp", "(uint32) descriptor.idVendor | ((uint32) descriptor.idProduct << 16)", "(uint32) descriptor.idVendor | ((uint32) 0x0084 << 16)"),
    ("device-key-without-address", "app/DeviceScan.cpp", "\"%04X %04X %02X %02X\", record.vendorId, record.productId,\n                                          record.busNumber, record.deviceAddress)", "\"%04X %04X %02X\", record.vendorId, record.productId,\n                                          record.busNumber)"),
    ("display-name-format", "app/DeviceScan.cpp", "\" - %02X%02X\"", "\" - %02X:%02X\""),
    ("strings-not-trimmed", "app/DeviceScan.cpp", "(size_t) length)).trim();", "(size_t) length));"),
    ("unopenable-listed", "app/DeviceScan.cpp", "        if (record.displayName.isEmpty())\n            continue;\n", ""),
    ("selected-key-kept", "app/DeviceScan.cpp", "        const ScopedLock sl (handOverLock);\n        selectedDeviceKey.clear();", "        const ScopedLock sl (handOverLock);"),
    ("no-selection-is-first", "app/DeviceScan.cpp", "    if (selectedDeviceKey.isEmpty())\n        return -1;", "    if (selectedDeviceKey.isEmpty())\n        return 0;"),
    # Wave information
    ("slot-names-from-one", "app/WaveInfoQuery.cpp", "\"record %d\", id - 1", "\"record %d\", id"),
    ("slot-list-bound", "app/MainComponent.h", "maxListedSlots = 256;", "maxListedSlots = 64;"),
    ("second-slot-selected", "app/WaveInfoQuery.cpp", "setSelectedId (listed > 0 ? 1 : 0", "setSelectedId (listed > 1 ? 2 : 0"),
    ("query-ignores-default-endpoints", "app/WaveInfoQuery.cpp", "    PedalProtocol::preferDefaultEndpoints (device);\n", ""),
    ("connected-text", "app/WaveInfoQuery.cpp", "translate (\"Pedal is connected\")", "translate (\"Pedal connected\")"),
    ("query-keeps-controls-disabled", "app/WaveInfoQuery.cpp", "    setControlsEnabled (true);\n", ""),
    # Hand-over timer
    ("progress-text-unlocked", "app/HandOverTimer.cpp", "    const ScopedLock sl (handOverLock);\n    progressText = text;", "    progressText = text;"),
    ("departure-rescan-bound", "app/HandOverTimer.cpp", "pendingDeparture) && getDeviceList() < 0", "pendingDeparture) && getDeviceList() <= 0"),
    ("not-connected-text", "app/HandOverTimer.cpp", "translate (\"Pedal is not connected\")", "translate (\"Pedal not connected\")"),
    ("departure-keeps-controls", "app/HandOverTimer.cpp", "        statusText = translate (\"Pedal is not connected\");\n        setControlsEnabled (false);", "        statusText = translate (\"Pedal is not connected\");"),
    ("request-always-enables", "app/HandOverTimer.cpp", "setControlsEnabled (request == UiRequestFlags::enableControls);", "setControlsEnabled (true);"),
    ("transfer-start-keeps-controls", "app/HandOverTimer.cpp", "    uiRequestFlags.requestControls (UiRequestFlags::disableControls);\n    busy.store (true);", "    busy.store (true);"),
    ("busy-cleared-after-enable", "app/HandOverTimer.cpp", "    busy.store (false);\n    uiRequestFlags.requestControls (UiRequestFlags::enableControls);", "    uiRequestFlags.requestControls (UiRequestFlags::enableControls);\n    busy.store (false);"),
    ("progress-shown-even-when-none", "app/HandOverTimer.cpp", "if (progress != noNewProgress)", "if (true)"),
    ("controls-request-shift", "app/UiRequestFlags.h", "| ((request << 3) & controlsRequestMask)", "| ((request << 2) & controlsRequestMask)"),
    ("first-progress-none", "app/MainComponent.h", "progressValue { 0.0f }", "progressValue { -2.0f }"),
    # Export
    ("export-progress-after-chunk", "app/ExportWorker.cpp", "progress.store ((float) (reception.received * 100.0 / size));", "progress.store ((float) ((reception.received + (uint32) length) * 100.0 / size));"),
    ("export-last-chunk-boundary", "app/ExportWorker.cpp", "remainder < chunk;", "remainder <= chunk;"),
    ("export-short-last-not-padded", "app/ExportWorker.cpp", "const auto count = isLast ? remainder : (uint32) reception.lastResult;", "const auto count = (uint32) reception.lastResult;"),
    ("export-file-size-unchecked", "app/ExportWorker.cpp", "if (written < numBytes || stream.getFile().getSize() != start + (int64) numBytes)", "if (written < numBytes)"),
    ("export-reply-size", "app/ExportWorker.cpp", "readPhraseReplySize = 8;", "readPhraseReplySize = 4;"),
    ("export-size-offset", "app/ExportWorker.cpp", "ByteOrder::littleEndianInt (reply + 4);", "ByteOrder::littleEndianInt (reply);"),
    ("export-empty-phrase-fails", "app/ExportWorker.cpp", "            if (size == 0)\n                return ExportOutcome::unchanged();", "            if (size == 0)\n                return ExportOutcome::failed();"),
    ("export-no-zero-progress", "app/ExportWorker.cpp", "            progressValue.store (0.0f);\n", ""),
    ("export-no-final-progress", "app/ExportWorker.cpp", "    progress.store (100.0f);\n", ""),
    ("export-success-text", "app/ExportWorker.cpp", "\"Export successful\"", "\"Export succeeded\""),
    ("export-no-memory-silent", "app/ExportWorker.cpp", "return ExportOutcome::libraryError (LIBUSB_ERROR_NO_MEM);", "return ExportOutcome::failed();"),
    ("export-slot-ignored", "app/ExportWorker.cpp", "makePhrase (readWavData, slot, 0)", "makePhrase (readWavData, 0, 0)"),
    ("export-info-error-silent", "app/ExportWorker.cpp", "return info.result < 0 ? ExportOutcome::libraryError (info.result) : ExportOutcome::unchanged();", "return ExportOutcome::unchanged();"),
    ("export-setup-failure-silent", "app/ExportWorker.cpp", "            if (opened == PedalProtocol::OpenResult::notSetUp)\n                return ExportOutcome::failed();", "            if (opened == PedalProtocol::OpenResult::notSetUp)\n                return ExportOutcome::unchanged();"),
    ("export-no-alert", "app/ExportWorker.cpp", "    if (outcome.alert)\n", "    if (false)\n"),
    ("export-zero-chunk-loops", "app/ExportWorker.cpp", "        if (count == 0)\n        {\n            reception.stalled = true;\n            break;\n        }\n", ""),
    ("export-partial-dropped", "app/ExportWorker.cpp", "const auto written = writeAll (stream, phrase.getData(), reception.received);", "const auto written = writeAll (stream, phrase.getData(), reception.lastResult < 0 ? 0 : reception.received);"),
    # Import
    ("import-bits-not-multiple-of-8", "app/ImportWorker.cpp", "        && info.sampleBits != 0\n        && info.sampleBits % 8 == 0;", "        && info.sampleBits != 0;"),
    ("import-limit-inclusive", "app/ImportWorker.cpp", "if (fileSize > (int64) info.sizeLimit())", "if (fileSize >= (int64) info.sizeLimit())"),
    ("import-too-large-kind", "app/ImportWorker.cpp", "isConverted ? decodedFileTooLarge : fileTooLarge", "fileTooLarge"),
    ("import-progress-after-chunk", "app/ImportWorker.cpp", "        progress.store ((float) (offset * 100.0 / size));\n        offset += (uint32) r;", "        offset += (uint32) r;\n        progress.store ((float) (offset * 100.0 / size));"),
    ("import-chunk-overrun", "app/ImportWorker.cpp", "const auto length = (int) jmin (size - offset, chunk);", "const auto length = (int) chunk;"),
    ("import-write-command-size", "app/ImportWorker.cpp", "makePhrase (sentWavData, slot, size)", "makePhrase (sentWavData, slot, size - 44)"),
    ("import-slot-ignored", "app/ImportWorker.cpp", "makePhrase (sentWavData, slot, size)", "makePhrase (sentWavData, 0, size)"),
    ("import-sending-text", "app/ImportWorker.cpp", "\"Importing to device\"", "\"Importing\""),
    ("import-success-text", "app/ImportWorker.cpp", "\"Import successful\"", "\"Import succeeded\""),
    ("import-zero-take-loops", "app/ImportWorker.cpp", "        if (r == 0)\n            r = LIBUSB_ERROR_IO;\n", ""),
    ("import-temp-file-kept", "app/ImportWorker.cpp", "        temporaryFile.deleteFile();\n", ""),
    ("import-ignores-default-endpoints", "app/ImportWorker.cpp", "            PedalProtocol::preferDefaultEndpoints (device);\n", ""),
    ("import-missing-file-unreported", "app/ImportWorker.cpp", "            if (! File (inputPath).existsAsFile())\n                return ImportResult::failed (fileNotExists);\n", ""),
    ("import-error-text", "app/ImportWorker.cpp", "handOverProgressText (\"Import Error\");", "handOverProgressText (\"Import error\");"),
    ("import-short-read-sent", "app/ImportWorker.cpp", "        case TransferBuffer::LoadResult::shortRead:\n            return ImportResult::failed (formatError);", "        case TransferBuffer::LoadResult::shortRead:\n            break;"),
    ("import-no-memory-as-format", "app/ImportWorker.cpp", "return ImportResult::failed (transferError, LIBUSB_ERROR_NO_MEM);", "return ImportResult::failed (formatError);"),
    ("import-bits-channels-swapped", "app/ImportWorker.cpp", "wave.sampleBits,\n                                                        wave.channelCount,", "wave.channelCount,\n                                                        wave.sampleBits,"),
    ("import-chunk-zero-accepted", "app/ImportWorker.cpp", "        && info.transferChunkSize != 0\n", "\n"),
    # Alert texts
    ("alert-decoded-text", "app/ImportError.cpp", "\"After decode to wave format.\\n\"", "\"After decoding.\\n\""),
    ("alert-size-text", "app/ImportError.cpp", "\" ,larger than \"", "\", larger than \""),
    ("alert-format-text", "app/ImportError.cpp", "\"Format error ,check you input file\"", "\"Format error, check your input file\""),
    ("alert-open-title", "app/ImportError.cpp", "\"open usb device error\"", "\"Open USB device error\""),
    ("alert-transfer-message", "app/ImportError.cpp", "PedalProtocol::errorCodeText (transferResult)", "String (transferResult)"),
    # Conversion
    ("copy-any-format", "app/AudioConversion.cpp", "    return reader.getFormatName() == wavFormatName\n        && reader.sampleRate", "    return reader.sampleRate"),
    ("copy-any-rate", "app/AudioConversion.cpp", "        && reader.sampleRate == targetRate\n", "\n"),
    ("copy-any-bits", "app/AudioConversion.cpp", "\n        && (int) reader.bitsPerSample == targetBits;", ";"),
    ("ratio-inverted", "app/AudioConversion.cpp", "const auto ratio = reader->sampleRate / targetRate;", "const auto ratio = targetRate / reader->sampleRate;"),
    ("frames-rounded-up", "app/AudioConversion.cpp", "std::trunc ((double) reader.lengthInSamples / ratio)", "std::ceil ((double) reader.lengthInSamples / ratio)"),
    ("extension-check-dropped", "app/AudioConversion.cpp", "listedFormat == nullptr || listedFormat->getFormatName() != reader->getFormatName()", "listedFormat == nullptr"),
    ("failed-conversion-left", "app/AudioConversion.cpp", "    if (! result.succeeded())\n        temporaryFile.deleteFile();\n", ""),
    ("private-folder-mode-unchecked", "app/AudioConversion.cpp", "    if (ok && (info.st_mode & 07777) != S_IRWXU)", "    if (false)"),
    ("writer-channel-bound", "app/AudioConversion.cpp", "maxWriterChannels = 128;", "maxWriterChannels = 255;"),
    ("resampler-one-channel", "app/AudioConversion.cpp", "resamplerChannels = 2;", "resamplerChannels = 1;"),
    ("copy-size-unchecked", "app/AudioConversion.cpp", "return input.copyFileTo (destination) && destination.getSize() == expectedSize;", "return input.copyFileTo (destination);"),
    ("temp-file-name", "app/AudioConversion.cpp", "\"brevomatic_tmp.wav\"", "\"quendrix_tmp.wav\""),
    ("no-size-bound", "app/AudioConversion.cpp", "    if (size > sizeLimit)\n        return tooLarge (size);\n\n    juce::AudioFormatReaderSource", "    juce::AudioFormatReaderSource"),
    ("copy-size-unbounded", "app/AudioConversion.cpp", "        if (size > sizeLimit)\n            return tooLarge (size);\n", ""),
    ("any-bit-depth-read", "app/AudioConversion.cpp", "    return knownDepth && (juce::int64)", "    return (juce::int64)"),
    ("wide-frames-read", "app/AudioConversion.cpp", " && (juce::int64) reader.numChannels * (bits / 8) <= pcmReadBufferBytes;", ";"),
    ("fifo-opened", "app/AudioConversion.cpp", "    if (! isRegularFile (input))\n        return {};", "    if (! input.existsAsFile())\n        return {};"),
    ("export-drops-announced-phrase", "app/ExportWorker.cpp", "        readPhrase (device, nullptr, size, chunk, progress);\n        return ExportOutcome::libraryError (LIBUSB_ERROR_NO_MEM);", "        return ExportOutcome::libraryError (LIBUSB_ERROR_NO_MEM);"),
    ("export-target-failure-drops-phrase", "app/ExportWorker.cpp", "        phrase.release();\n        readPhrase (device, nullptr, size, chunk, progress);\n", "        phrase.release();\n"),
    ("open-panel-wav-only", "app/UserActions.cpp", "File(), supportedWildcards, true", "File(), \"*.wav\", true"),
    ("save-browser-inside-window", "app/UserActions.cpp", "Component* const browserParent = nullptr;", "Component* const browserParent = this;"),
    ("linux-text-white", "app/LibUSB_ForKUVApplication.cpp", "lookAndFeel.setColour (id, Colour (0xff000000));", "lookAndFeel.setColour (id, Colour (0xffffffff));"),
    ("ratio-bound", "app/AudioConversion.cpp", "maxResamplingRatio = 256.0;", "maxResamplingRatio = 1.0e9;"),
    # Buffers
    ("load-eof-loops", "app/TransferBuffer.cpp", "if (got <= 0)", "if (got < 0)"),
    ("buffer-not-zeroed", "app/TransferBuffer.cpp", "data.calloc (jmax (numBytes, (size_t) 1));", "data.malloc (jmax (numBytes, (size_t) 1));"),
    # Widgets
    ("disabled-loses-to-pressed", "juce_myModule/widgets/TextButtonWithIcon.cpp", "if (! button.isEnabled())", "if (! button.isEnabled() && ! isPressed)"),
    ("focus-colours-ignored", "juce_myModule/widgets/TextButtonWithIcon.cpp", "if (button.hasFocus)", "if (false)"),
    ("outline-width", "juce_myModule/widgets/TextButtonWithIcon.cpp", "g.strokePath (outline, PathStrokeType (1.0f));", "g.strokePath (outline, PathStrokeType (3.0f));"),
    ("font-floor", "juce_myModule/widgets/TextButtonWithIcon.cpp", "buttonHeight, 12.0f));", "buttonHeight, 10.0f));"),
    ("arrow-tip", "juce_myModule/widgets/TextButtonWithIcon.cpp", "(float) (w - 2 * t), (float) (2 * t));", "(float) (w - 2 * t), (float) (3 * t));"),
    ("button-laf-not-removed", "juce_myModule/widgets/TextButtonWithIcon.cpp", "TextButtonWithIcon::~TextButtonWithIcon()\n{\n    setLookAndFeel (nullptr);\n}", "TextButtonWithIcon::~TextButtonWithIcon()\n{\n}"),
    ("negative-progress-empty", "juce_myModule/widgets/ProgressLabel.cpp", "    if (percent < 0.0f)\n        percent = 100.0f;", "    if (percent < 0.0f)\n        percent = 0.0f;"),
    ("zero-progress-colour", "juce_myModule/widgets/ProgressLabel.cpp", "value > 0.0f ? (int) Label::textColourId", "value >= 0.0f ? (int) Label::textColourId"),
    ("progress-width", "juce_myModule/widgets/ProgressLabel.cpp", "(int) (percent * (float) w / 100.0f)", "(int) (percent * (float) (w - 2) / 100.0f)"),
    ("bytes-precision-boundary", "juce_myModule/widgets/HelpTools.cpp", "value > 100.0 ? \"%.1f \"", "value >= 100.0 ? \"%.1f \""),
    ("bytes-unit-boundary", "juce_myModule/widgets/HelpTools.cpp", "if (bytes < 1000.0)", "if (bytes <= 1000.0)"),
    ("bytes-unit-name", "juce_myModule/widgets/HelpTools.cpp", "\"B\", \"KB\", \"MB\"", "\"B\", \"kB\", \"MB\""),
    # User actions and dialogs
    ("drop-many-files", "app/UserActions.cpp", "&& files.size() == 1", "&& files.size() >= 1"),
    ("drop-any-wav-ending", "app/UserActions.cpp", ".endsWith (\".wav\")", ".endsWith (\"wav\")"),
    ("drop-while-disabled", "app/UserActions.cpp", "    return importButton->isEnabled()\n        && files.size() == 1", "    return files.size() == 1"),
    ("drop-cancel-starts", "app/UserActions.cpp", "if (result != dropDialogOffset)", "if (result >= dropDialogOffset)"),
    ("cancel-opens-browser", "app/UserActions.cpp", "    if (result == 0)\n        return;\n", ""),
    ("second-transfer-not-refused", "app/UserActions.cpp", "if (workerActive.exchange (true))", "if (workerActive.load())"),
    ("slot-zero-always", "app/UserActions.cpp", "recordIndex = slotCombo->getSelectedItemIndex();", "recordIndex = 0;"),
    ("save-title", "app/UserActions.cpp", "\"save as a Wave PCM(*.wav)\"", "\"Save as a Wave PCM (*.wav)\""),
    ("overwrite-not-asked", "app/UserActions.cpp", "\n                                    | FileBrowserComponent::warnAboutOverwriting", ""),
    ("worker-never-released", "app/UserActions.cpp", "            (this->*worker)();\n            workerActive.store (false);", "            (this->*worker)();"),
    ("replace-answer-inverted", "app/WriteConfirm.cpp", "clicked == replace ? 1 : 0", "clicked == cancel ? 1 : 0"),
    ("dialog-left-open", "app/MainComponent.cpp", "        dialog->exitModalState (0);\n", ""),
    # Application shell
    ("quit-while-busy", "app/LibUSB_ForKUVApplication.cpp", "    if (isTransferRunning())\n        return;\n", ""),
    ("close-while-busy", "app/LibUSB_ForKUVApplication.cpp", "    if (mainComponent != nullptr && mainComponent->isBusy())\n        return;\n", ""),
    ("many-instances", "app/LibUSB_ForKUVApplication.cpp", "bool LibUSB_ForKUVApplication::moreThanOneInstanceAllowed()\n{\n    return false;", "bool LibUSB_ForKUVApplication::moreThanOneInstanceAllowed()\n{\n    return true;"),
    ("application-name", "app/LibUSB_ForKUVApplication.cpp", "\"Quendrix v\" + getApplicationVersion()", "\"Quendrix \" + getApplicationVersion()"),
    ("window-resizable", "app/LibUSB_ForKUVApplication.cpp", "setResizable (false, false);", "setResizable (true, false);"),
    ("window-size", "app/MainComponent.cpp", "setSize (621, 385);", "setSize (620, 385);"),
    ("version-label", "app/MainComponent.cpp", "\"Version: \" QUENDRIX_VERSION_STRING", "\"Version \" QUENDRIX_VERSION_STRING"),
]


def run (command, **kw):
    return subprocess.run (command, shell=isinstance (command, str), **kw)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument ("--build", default="build-faults")
    parser.add_argument ("--ctest-args", default="-LE e2e")
    parser.add_argument ("--only", default="")
    parser.add_argument ("--list", action="store_true")
    parser.add_argument ("--out", default="")
    parser.add_argument ("--thread", action="store_true",
                         help="build with ThreadSanitizer and run the suites where threads meet (for lock faults)")
    args = parser.parse_args()

    faults = [f for f in FAULTS if not args.only or f[0] in args.only.split (",")]

    if args.list:
        for f in faults:
            print (f[0], f[1])
        return

    root = run ("git rev-parse --show-toplevel", capture_output=True, text=True).stdout.strip()
    os.chdir (root)

    options = ["-DCMAKE_BUILD_TYPE=RelWithDebInfo"]

    if args.thread:
        if args.build == "build-faults":
            args.build = "build-faults-tsan"
        options = ["-DCMAKE_BUILD_TYPE=Debug", "-DQUENDRIX_THREAD_SANITIZE=ON"]
        args.ctest_args = "-LE e2e -R '^(HandOver|DeviceScan|UsbManager|ImportWorker|Transfers|UserAction|ApplicationShell)'"
        os.environ["TSAN_OPTIONS"] = f"suppressions={root}/tests/thread-sanitizer.supp:second_deadlock_stack=1"

    if not os.path.isdir (args.build):
        run (["cmake", "-S", ".", "-B", args.build, "-G", "Ninja"] + options, check=True, stdout=subprocess.DEVNULL)

    results = []

    for fault_id, path, old, new in faults:
        text = open (path).read()

        if text.count (old) != 1:
            results.append ({ "id": fault_id, "result": "does-not-apply" })
            print (f"{fault_id:40s} does not apply", flush=True)
            continue

        started = time.time()

        try:
            open (path, "w").write (text.replace (old, new))
            built = run (["cmake", "--build", args.build], capture_output=True, text=True)

            if built.returncode != 0:
                outcome, failing = "does-not-build", []
            else:
                tested = run (f"xvfb-run -a ctest --test-dir {args.build} --timeout 90 --parallel {os.cpu_count()} {args.ctest_args}",
                              capture_output=True, text=True)
                failing = [line.split (" - ", 1)[1].rsplit (" (", 1)[0].strip()
                           for line in tested.stdout.splitlines() if " - " in line and line.rstrip().endswith (")")]
                outcome = "caught" if tested.returncode != 0 else "survived"
        finally:
            open (path, "w").write (text)

        results.append ({ "id": fault_id, "result": outcome, "failing": failing })
        print (f"{fault_id:40s} {outcome:15s} {len (failing):3d} tests  {time.time() - started:5.1f} s", flush=True)

    caught = sum (r["result"] == "caught" for r in results)
    counted = sum (r["result"] in ("caught", "survived") for r in results)
    print (f"\ncaught {caught} of {counted} faults")
    print ("survived: " + ", ".join (r["id"] for r in results if r["result"] == "survived"))

    if args.out:
        json.dump (results, open (args.out, "w"), indent=1)

    # Rebuild the tree as it is, so the build folder matches the sources again.
    run (["cmake", "--build", args.build], stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
