<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>TQ470_Bootloader</name>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>error</source>
        <translation>error</translation>
    </message>
    <message>
        <source>Conversion error</source>
        <translation>Conversion error</translation>
    </message>
    <message>
        <source>Tq470 Bootloader ver. </source>
        <translation>Tq470 Bootloader ver. </translation>
    </message>
    <message>
        <source>The USB transfers are not recorded: %1</source>
        <translation>The USB transfers are not recorded: %1</translation>
    </message>
    <message>
        <source>Read From Tq470</source>
        <translation>Read From Tq470</translation>
    </message>
    <message>
        <source>Address (hex)</source>
        <translation>Address (hex)</translation>
    </message>
    <message>
        <source>Length (dec)</source>
        <translation>Length (dec)</translation>
    </message>
    <message>
        <source>ReadMemoryFromAddress</source>
        <translation>ReadMemoryFromAddress</translation>
    </message>
    <message>
        <source>Fill pattern</source>
        <translation>Fill pattern</translation>
    </message>
    <message>
        <source>Number (dec)</source>
        <translation>Number (dec)</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Open File</translation>
    </message>
    <message>
        <source>Upg (*.upg)</source>
        <translation>Upg (*.upg)</translation>
    </message>
    <message>
        <source>Bin (*.bin)</source>
        <translation>Bin (*.bin)</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Write OK</source>
        <translation>Write OK</translation>
    </message>
    <message>
        <source>Length error</source>
        <translation>Length error</translation>
    </message>
    <message>
        <source>Length should be aligned to 4</source>
        <translation>Length should be aligned to 4</translation>
    </message>
    <message>
        <source>WriteExternalFlashToAddress</source>
        <translation>WriteExternalFlashToAddress</translation>
    </message>
    <message>
        <source>ReadExternalFlashFromAddress</source>
        <translation>ReadExternalFlashFromAddress</translation>
    </message>
    <message>
        <source>memcmp</source>
        <translation>memcmp</translation>
    </message>
    <message>
        <source>Write To External Flash Tq470</source>
        <translation>Write To External Flash Tq470</translation>
    </message>
    <message>
        <source>Data(hex)</source>
        <translation>Data(hex)</translation>
    </message>
    <message>
        <source>Read External Flash From Tq470</source>
        <translation>Read External Flash From Tq470</translation>
    </message>
    <message>
        <source>Hex (*.hex)</source>
        <translation>Hex (*.hex)</translation>
    </message>
    <message>
        <source>Save File</source>
        <translation>Save File</translation>
    </message>
    <message>
        <source>Production year</source>
        <translation>Production year</translation>
    </message>
    <message>
        <source>Year(YY)</source>
        <translation>Year(YY)</translation>
    </message>
    <message>
        <source>Production mont</source>
        <translation>Production month</translation>
    </message>
    <message>
        <source>Month(MM)</source>
        <translation>Month(MM)</translation>
    </message>
    <message>
        <source>Production day</source>
        <translation>Production day</translation>
    </message>
    <message>
        <source>Day(DD)</source>
        <translation>Day(DD)</translation>
    </message>
    <message>
        <source>Production number</source>
        <translation>Production number</translation>
    </message>
    <message>
        <source>Number(NNN)</source>
        <translation>Number(NNN)</translation>
    </message>
    <message>
        <source>Save bootloader bin</source>
        <translation>Save bootloader bin</translation>
    </message>
    <message>
        <source>HexToBin error: %1)</source>
        <translation>HexToBin error: %1</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
</context>
<context>
    <name>TQ470_BootloaderClass</name>
    <message>
        <source>TQ470_Bootloader</source>
        <translation>TQ470_Bootloader</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>WritePage</source>
        <translation>WritePage</translation>
    </message>
    <message>
        <source>Change Firmware</source>
        <translation>Change Firmware</translation>
    </message>
    <message>
        <source>RunApplication</source>
        <translation>RunApplication</translation>
    </message>
    <message>
        <source>WriteExternalFlash</source>
        <translation>WriteExternalFlash</translation>
    </message>
    <message>
        <source>ReadExternalFlash</source>
        <translation>ReadExternalFlash</translation>
    </message>
    <message>
        <source>WriteExtFlashBin</source>
        <translation>WriteExtFlashBin</translation>
    </message>
    <message>
        <source>CreateUpg</source>
        <translation>CreateUpg</translation>
    </message>
    <message>
        <source>CreateBootBin</source>
        <translation>CreateBootBin</translation>
    </message>
    <message>
        <source>Flash %p%</source>
        <translation>Flash %p%</translation>
    </message>
    <message>
        <source>External Flash Write %p%</source>
        <translation>External Flash Write %p%</translation>
    </message>
    <message>
        <source>External Flash Verify %p%</source>
        <translation>External Flash Verify %p%</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
</context>
<context>
    <name>Upgrader</name>
    <message>
        <source>The Tq470 left the bus: waiting for it to come back ...</source>
        <translation>The Tq470 left the bus: waiting for it to come back ...</translation>
    </message>
    <message>
        <source>Wrong file header</source>
        <translation>Wrong file header</translation>
    </message>
    <message>
        <source>Wrong file version</source>
        <translation>Wrong file version</translation>
    </message>
    <message>
        <source>Wrong file size</source>
        <translation>Wrong file size</translation>
    </message>
    <message>
        <source>Writting firmware ... </source>
        <translation>Writing firmware ... </translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>the Tq470 stays in its bootloader until a rerun of the upgrade repairs it.</source>
        <translation>the Tq470 stays in its bootloader until a rerun of the upgrade repairs it.</translation>
    </message>
    <message>
        <source>Stopped while waiting for the bootloader after the reset: nothing was written; the Tq470 may be in its bootloader or its application; a rerun continues.</source>
        <translation>Stopped while waiting for the bootloader after the reset: nothing was written; the Tq470 may be in its bootloader or its application; a rerun continues.</translation>
    </message>
    <message>
        <source>Stopped while writing the application (%1 of %2 pages written): </source>
        <translation>Stopped while writing the application (%1 of %2 pages written): </translation>
    </message>
    <message>
        <source>Stopped while writing the external flash: the application is written, the external flash partly; </source>
        <translation>Stopped while writing the external flash: the application is written, the external flash partly; </translation>
    </message>
    <message>
        <source>Stopped while verifying the external flash: the firmware is written but not verified; </source>
        <translation>Stopped while verifying the external flash: the firmware is written but not verified; </translation>
    </message>
    <message>
        <source>Stopped while waiting for the new application to start: the firmware is written and verified; replug the Tq470, or start it with &quot;tq470-flash run&quot;.</source>
        <translation>Stopped while waiting for the new application to start: the firmware is written and verified; replug the Tq470, or start it with &quot;tq470-flash run&quot;.</translation>
    </message>
    <message>
        <source>Stopped before anything was written: the Tq470 holds its previous firmware; run the upgrade again when ready.</source>
        <translation>Stopped before anything was written: the Tq470 holds its previous firmware; run the upgrade again when ready.</translation>
    </message>
    <message>
        <source>Done: the Tq470 holds the new firmware and runs it.</source>
        <translation>Done: the Tq470 holds the new firmware and runs it.</translation>
    </message>
    <message>
        <source>Nothing was sent to the Tq470: %1 is no upgrade file; choose the .upg file of its firmware and start again.</source>
        <translation>Nothing was sent to the Tq470: %1 is no upgrade file; choose the .upg file of its firmware and start again.</translation>
    </message>
    <message>
        <source>Waiting for the Tq470 to answer ...</source>
        <translation>Waiting for the Tq470 to answer ...</translation>
    </message>
    <message>
        <source>USB Timeout
Check USB Cable</source>
        <translation>USB Timeout
Check USB Cable</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 on bus %1 device %2 is in use by another program; close that program and start the upgrade again.</source>
        <translation>Nothing was written: the Tq470 on bus %1 device %2 is in use by another program; close that program and start the upgrade again.</translation>
    </message>
    <message>
        <source>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; install the udev rule %3, reload udev, replug the Tq470 and start the upgrade again (the rule lets in the user at the desk and the members of the group %4).</source>
        <translation>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; install the udev rule %3, reload udev, replug the Tq470 and start the upgrade again (the rule lets in the user at the desk and the members of the group %4).</translation>
    </message>
    <message>
        <source>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; the udev rule %3 lets in the user at the desk and the members of the group %4: work at the desk or join the group, and start the upgrade again.</source>
        <translation>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; the udev rule %3 lets in the user at the desk and the members of the group %4: work at the desk or join the group, and start the upgrade again.</translation>
    </message>
    <message>
        <source>Nothing was written: no Tq470 answered; plug it in, check the USB cable and start the upgrade again.</source>
        <translation>Nothing was written: no Tq470 answered; plug it in, check the USB cable and start the upgrade again.</translation>
    </message>
    <message>
        <source>Bootloader Version Read Error</source>
        <translation>Bootloader Version Read Error</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 did not answer the read of its version; check the USB cable and start the upgrade again.</source>
        <translation>Nothing was written: the Tq470 did not answer the read of its version; check the USB cable and start the upgrade again.</translation>
    </message>
    <message>
        <source>Bootloader mode</source>
        <translation>Bootloader mode</translation>
    </message>
    <message>
        <source>Serial:</source>
        <translation>Serial:</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470&apos;s serial tells neither its bootloader nor its application; replug it and start the upgrade again.</source>
        <translation>Nothing was written: the Tq470&apos;s serial tells neither its bootloader nor its application; replug it and start the upgrade again.</translation>
    </message>
    <message>
        <source>Apllication mode</source>
        <translation>Application mode</translation>
    </message>
    <message>
        <source>Reset device</source>
        <translation>Reset device</translation>
    </message>
    <message>
        <source>Waiting for the Tq470 to restart in its bootloader ...</source>
        <translation>Waiting for the Tq470 to restart in its bootloader ...</translation>
    </message>
    <message>
        <source>USB timout
Check USB cable</source>
        <translation>USB timeout
Check USB cable</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 did not come back as its bootloader after the reset and may run either; replug it and start the upgrade again.</source>
        <translation>Nothing was written: the Tq470 did not come back as its bootloader after the reset and may run either; replug it and start the upgrade again.</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>ERROR</translation>
    </message>
    <message>
        <source>Not finished: the application is partly written (%1 of %2 pages); </source>
        <translation>Not finished: the application is partly written (%1 of %2 pages); </translation>
    </message>
    <message>
        <source>Writting External Flash ... </source>
        <translation>Writing External Flash ... </translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Not finished: the application is written, the external flash only partly; </source>
        <translation>Not finished: the application is written, the external flash only partly; </translation>
    </message>
    <message>
        <source>Verify External Flash ...  </source>
        <translation>Verify External Flash ...  </translation>
    </message>
    <message>
        <source>Not finished: the firmware is written, but the external flash could not be read back; </source>
        <translation>Not finished: the firmware is written, but the external flash could not be read back; </translation>
    </message>
    <message>
        <source>read_buffer</source>
        <translation>read_buffer</translation>
    </message>
    <message>
        <source>ext_datas.data()</source>
        <translation>ext_datas.data()</translation>
    </message>
    <message>
        <source>Not finished: the firmware is written, but the external flash reads back different from the file; </source>
        <translation>Not finished: the firmware is written, but the external flash reads back different from the file; </translation>
    </message>
    <message>
        <source>The start was not acknowledged: waiting for the Tq470 to come back in its application ...</source>
        <translation>The start was not acknowledged: waiting for the Tq470 to come back in its application ...</translation>
    </message>
    <message>
        <source>The firmware is written and verified, but its start could not be confirmed: replug the Tq470, or start it with &quot;tq470-flash run&quot;</source>
        <translation>The firmware is written and verified, but its start could not be confirmed: replug the Tq470, or start it with &quot;tq470-flash run&quot;</translation>
    </message>
</context>
</TS>
