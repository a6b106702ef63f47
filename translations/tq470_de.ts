<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>TQ470_Bootloader</name>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Conversion error</source>
        <translation>Umwandlungsfehler</translation>
    </message>
    <message>
        <source>Tq470 Bootloader ver. </source>
        <translation>Tq470 Bootloader Version </translation>
    </message>
    <message>
        <source>The USB transfers are not recorded: %1</source>
        <translation>Die USB-Übertragungen werden nicht aufgezeichnet: %1</translation>
    </message>
    <message>
        <source>Read From Tq470</source>
        <translation>Vom Tq470 lesen</translation>
    </message>
    <message>
        <source>Address (hex)</source>
        <translation>Adresse (hex)</translation>
    </message>
    <message>
        <source>Length (dec)</source>
        <translation>Länge (dez)</translation>
    </message>
    <message>
        <source>ReadMemoryFromAddress</source>
        <translation>Lesen des Speichers fehlgeschlagen</translation>
    </message>
    <message>
        <source>Fill pattern</source>
        <translation>Füllmuster</translation>
    </message>
    <message>
        <source>Number (dec)</source>
        <translation>Zahl (dez)</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Datei öffnen</translation>
    </message>
    <message>
        <source>Upg (*.upg)</source>
        <translation>Upgrade-Datei (*.upg)</translation>
    </message>
    <message>
        <source>Bin (*.bin)</source>
        <translation>Binärdatei (*.bin)</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Write OK</source>
        <translation>Schreiben OK</translation>
    </message>
    <message>
        <source>Length error</source>
        <translation>Längenfehler</translation>
    </message>
    <message>
        <source>Length should be aligned to 4</source>
        <translation>Die Länge muss ein Vielfaches von 4 sein</translation>
    </message>
    <message>
        <source>WriteExternalFlashToAddress</source>
        <translation>Schreiben des externen Flash fehlgeschlagen</translation>
    </message>
    <message>
        <source>ReadExternalFlashFromAddress</source>
        <translation>Lesen des externen Flash fehlgeschlagen</translation>
    </message>
    <message>
        <source>memcmp</source>
        <translation>Die zurückgelesenen Daten weichen von den geschriebenen ab</translation>
    </message>
    <message>
        <source>Write To External Flash Tq470</source>
        <translation>In den externen Flash des Tq470 schreiben</translation>
    </message>
    <message>
        <source>Data(hex)</source>
        <translation>Daten (hex)</translation>
    </message>
    <message>
        <source>Read External Flash From Tq470</source>
        <translation>Externen Flash des Tq470 lesen</translation>
    </message>
    <message>
        <source>Hex (*.hex)</source>
        <translation>Intel-HEX-Datei (*.hex)</translation>
    </message>
    <message>
        <source>Save File</source>
        <translation>Datei speichern</translation>
    </message>
    <message>
        <source>Production year</source>
        <translation>Produktionsjahr</translation>
    </message>
    <message>
        <source>Year(YY)</source>
        <translation>Jahr (JJ)</translation>
    </message>
    <message>
        <source>Production mont</source>
        <translation>Produktionsmonat</translation>
    </message>
    <message>
        <source>Month(MM)</source>
        <translation>Monat (MM)</translation>
    </message>
    <message>
        <source>Production day</source>
        <translation>Produktionstag</translation>
    </message>
    <message>
        <source>Day(DD)</source>
        <translation>Tag (TT)</translation>
    </message>
    <message>
        <source>Production number</source>
        <translation>Produktionsnummer</translation>
    </message>
    <message>
        <source>Number(NNN)</source>
        <translation>Nummer (NNN)</translation>
    </message>
    <message>
        <source>Save bootloader bin</source>
        <translation>Bootloader-Abbild speichern</translation>
    </message>
    <message>
        <source>HexToBin error: %1)</source>
        <translation>HexToBin-Fehler: %1</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
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
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Lesen</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>WritePage</source>
        <translation>Seite schreiben</translation>
    </message>
    <message>
        <source>Change Firmware</source>
        <translation>Firmware ändern</translation>
    </message>
    <message>
        <source>RunApplication</source>
        <translation>Anwendung starten</translation>
    </message>
    <message>
        <source>WriteExternalFlash</source>
        <translation>Externen Flash schreiben</translation>
    </message>
    <message>
        <source>ReadExternalFlash</source>
        <translation>Externen Flash lesen</translation>
    </message>
    <message>
        <source>WriteExtFlashBin</source>
        <translation>Bin-Datei in externen Flash schreiben</translation>
    </message>
    <message>
        <source>CreateUpg</source>
        <translation>Upgrade-Datei erstellen</translation>
    </message>
    <message>
        <source>CreateBootBin</source>
        <translation>Bootloader-Abbild erstellen</translation>
    </message>
    <message>
        <source>Flash %p%</source>
        <translation>Flash %p%</translation>
    </message>
    <message>
        <source>External Flash Write %p%</source>
        <translation>Externer Flash: Schreiben %p%</translation>
    </message>
    <message>
        <source>External Flash Verify %p%</source>
        <translation>Externer Flash: Prüfen %p%</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
</context>
<context>
    <name>Upgrader</name>
    <message>
        <source>The Tq470 left the bus: waiting for it to come back ...</source>
        <translation>Der Tq470 hat den Bus verlassen: warte auf seine Rückkehr ...</translation>
    </message>
    <message>
        <source>Wrong file header</source>
        <translation>Falscher Dateikopf</translation>
    </message>
    <message>
        <source>Wrong file version</source>
        <translation>Falsche Dateiversion</translation>
    </message>
    <message>
        <source>Wrong file size</source>
        <translation>Falsche Dateigröße</translation>
    </message>
    <message>
        <source>Writting firmware ... </source>
        <translation>Firmware wird geschrieben ... </translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>the Tq470 stays in its bootloader until a rerun of the upgrade repairs it.</source>
        <translation>Tq470 bleibt im Bootloader, bis ein erneutes Upgrade ihn repariert.</translation>
    </message>
    <message>
        <source>Stopped while waiting for the bootloader after the reset: nothing was written; the Tq470 may be in its bootloader or its application; a rerun continues.</source>
        <translation>Angehalten beim Warten auf den Bootloader nach dem Reset: Nichts wurde geschrieben; der Tq470 kann im Bootloader oder in seiner Anwendung sein; ein erneutes Upgrade setzt hier fort.</translation>
    </message>
    <message>
        <source>Stopped while writing the application (%1 of %2 pages written): </source>
        <translation>Angehalten beim Schreiben der Anwendung (%1 von %2 Seiten geschrieben): </translation>
    </message>
    <message>
        <source>Stopped while writing the external flash: the application is written, the external flash partly; </source>
        <translation>Angehalten beim Schreiben des externen Flash: Die Anwendung ist geschrieben, der externe Flash nur teilweise; </translation>
    </message>
    <message>
        <source>Stopped while verifying the external flash: the firmware is written but not verified; </source>
        <translation>Angehalten beim Prüfen des externen Flash: Die Firmware ist geschrieben, aber nicht geprüft; </translation>
    </message>
    <message>
        <source>Stopped while waiting for the new application to start: the firmware is written and verified; replug the Tq470, or start it with &quot;tq470-flash run&quot;.</source>
        <translation>Angehalten beim Warten auf den Start der neuen Anwendung: Die Firmware ist geschrieben und geprüft; den Tq470 neu anstecken oder mit &quot;tq470-flash run&quot; starten.</translation>
    </message>
    <message>
        <source>Stopped before anything was written: the Tq470 holds its previous firmware; run the upgrade again when ready.</source>
        <translation>Angehalten, bevor etwas geschrieben wurde: Der Tq470 hat seine bisherige Firmware; das Upgrade erneut starten, sobald alles bereit ist.</translation>
    </message>
    <message>
        <source>Done: the Tq470 holds the new firmware and runs it.</source>
        <translation>Fertig: Der Tq470 hat die neue Firmware und führt sie aus.</translation>
    </message>
    <message>
        <source>Nothing was sent to the Tq470: %1 is no upgrade file; choose the .upg file of its firmware and start again.</source>
        <translation>Nichts wurde an den Tq470 gesendet: %1 ist keine Upgrade-Datei; die .upg-Datei seiner Firmware wählen und neu beginnen.</translation>
    </message>
    <message>
        <source>Waiting for the Tq470 to answer ...</source>
        <translation>Warte auf Antwort des Tq470 ...</translation>
    </message>
    <message>
        <source>USB Timeout
Check USB Cable</source>
        <translation>USB-Zeitüberschreitung
USB-Kabel prüfen</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 on bus %1 device %2 is in use by another program; close that program and start the upgrade again.</source>
        <translation>Nichts wurde geschrieben: Der Tq470 an Bus %1, Gerät %2 wird von einem anderen Programm benutzt; dieses Programm schließen und das Upgrade erneut starten.</translation>
    </message>
    <message>
        <source>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; install the udev rule %3, reload udev, replug the Tq470 and start the upgrade again (the rule lets in the user at the desk and the members of the group %4).</source>
        <translation>Nichts wurde geschrieben: Der Zugriff auf den Tq470 an Bus %1, Gerät %2 wurde verweigert; die udev-Regel %3 installieren, udev neu laden, den Tq470 neu anstecken und das Upgrade erneut starten (die Regel lässt den Benutzer am Arbeitsplatz und die Mitglieder der Gruppe %4 zu).</translation>
    </message>
    <message>
        <source>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; the udev rule %3 lets in the user at the desk and the members of the group %4: work at the desk or join the group, and start the upgrade again.</source>
        <translation>Nichts wurde geschrieben: Der Zugriff auf den Tq470 an Bus %1, Gerät %2 wurde verweigert; die udev-Regel %3 lässt den Benutzer am Arbeitsplatz und die Mitglieder der Gruppe %4 zu: am Arbeitsplatz arbeiten oder der Gruppe beitreten und das Upgrade erneut starten.</translation>
    </message>
    <message>
        <source>Nothing was written: no Tq470 answered; plug it in, check the USB cable and start the upgrade again.</source>
        <translation>Nichts wurde geschrieben: Kein Tq470 hat geantwortet; ihn anstecken, das USB-Kabel prüfen und das Upgrade erneut starten.</translation>
    </message>
    <message>
        <source>Bootloader Version Read Error</source>
        <translation>Fehler beim Lesen der Bootloader-Version</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 did not answer the read of its version; check the USB cable and start the upgrade again.</source>
        <translation>Nichts wurde geschrieben: Der Tq470 hat auf das Lesen seiner Version nicht geantwortet; das USB-Kabel prüfen und das Upgrade erneut starten.</translation>
    </message>
    <message>
        <source>Bootloader mode</source>
        <translation>Bootloader-Modus</translation>
    </message>
    <message>
        <source>Serial:</source>
        <translation>Seriennummer:</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470&apos;s serial tells neither its bootloader nor its application; replug it and start the upgrade again.</source>
        <translation>Nichts wurde geschrieben: Die Seriennummer des Tq470 zeigt weder Bootloader noch Anwendung an; ihn neu anstecken und das Upgrade erneut starten.</translation>
    </message>
    <message>
        <source>Apllication mode</source>
        <translation>Anwendungsmodus</translation>
    </message>
    <message>
        <source>Reset device</source>
        <translation>Gerät wird zurückgesetzt</translation>
    </message>
    <message>
        <source>Waiting for the Tq470 to restart in its bootloader ...</source>
        <translation>Warte, bis der Tq470 im Bootloader neu startet ...</translation>
    </message>
    <message>
        <source>USB timout
Check USB cable</source>
        <translation>USB-Zeitüberschreitung
USB-Kabel prüfen</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 did not come back as its bootloader after the reset and may run either; replug it and start the upgrade again.</source>
        <translation>Nichts wurde geschrieben: Der Tq470 ist nach dem Reset nicht als Bootloader zurückgekehrt und kann in beiden Modi laufen; ihn neu anstecken und das Upgrade erneut starten.</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>FEHLER</translation>
    </message>
    <message>
        <source>Not finished: the application is partly written (%1 of %2 pages); </source>
        <translation>Nicht abgeschlossen: Die Anwendung ist teilweise geschrieben (%1 von %2 Seiten); </translation>
    </message>
    <message>
        <source>Writting External Flash ... </source>
        <translation>Externer Flash wird geschrieben ... </translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Not finished: the application is written, the external flash only partly; </source>
        <translation>Nicht abgeschlossen: Die Anwendung ist geschrieben, der externe Flash nur teilweise; </translation>
    </message>
    <message>
        <source>Verify External Flash ...  </source>
        <translation>Externer Flash wird geprüft ...  </translation>
    </message>
    <message>
        <source>Not finished: the firmware is written, but the external flash could not be read back; </source>
        <translation>Nicht abgeschlossen: Die Firmware ist geschrieben, aber der externe Flash konnte nicht zurückgelesen werden; </translation>
    </message>
    <message>
        <source>read_buffer</source>
        <translation>Aus dem Gerät gelesen</translation>
    </message>
    <message>
        <source>ext_datas.data()</source>
        <translation>Daten aus der Datei</translation>
    </message>
    <message>
        <source>Not finished: the firmware is written, but the external flash reads back different from the file; </source>
        <translation>Nicht abgeschlossen: Die Firmware ist geschrieben, aber die aus dem externen Flash zurückgelesenen Daten weichen von der Datei ab; </translation>
    </message>
    <message>
        <source>The start was not acknowledged: waiting for the Tq470 to come back in its application ...</source>
        <translation>Der Start wurde nicht bestätigt: warte, bis der Tq470 in seiner Anwendung zurückkehrt ...</translation>
    </message>
    <message>
        <source>The firmware is written and verified, but its start could not be confirmed: replug the Tq470, or start it with &quot;tq470-flash run&quot;</source>
        <translation>Die Firmware ist geschrieben und geprüft, aber ihr Start konnte nicht bestätigt werden: den Tq470 neu anstecken oder mit &quot;tq470-flash run&quot; starten</translation>
    </message>
</context>
</TS>
