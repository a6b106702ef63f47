<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl_PL">
<context>
    <name>TQ470_Bootloader</name>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>Conversion error</source>
        <translation>Błąd konwersji</translation>
    </message>
    <message>
        <source>Tq470 Bootloader ver. </source>
        <translation>Tq470 Bootloader wer. </translation>
    </message>
    <message>
        <source>The USB transfers are not recorded: %1</source>
        <translation>Transmisje USB nie są rejestrowane: %1</translation>
    </message>
    <message>
        <source>Read From Tq470</source>
        <translation>Odczyt z Tq470</translation>
    </message>
    <message>
        <source>Address (hex)</source>
        <translation>Adres (hex)</translation>
    </message>
    <message>
        <source>Length (dec)</source>
        <translation>Długość (dec)</translation>
    </message>
    <message>
        <source>ReadMemoryFromAddress</source>
        <translation>Odczyt pamięci nie powiódł się</translation>
    </message>
    <message>
        <source>Fill pattern</source>
        <translation>Wzorzec wypełnienia</translation>
    </message>
    <message>
        <source>Number (dec)</source>
        <translation>Liczba (dec)</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Otwórz plik</translation>
    </message>
    <message>
        <source>Upg (*.upg)</source>
        <translation>Plik aktualizacji (*.upg)</translation>
    </message>
    <message>
        <source>Bin (*.bin)</source>
        <translation>Plik binarny (*.bin)</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Informacja</translation>
    </message>
    <message>
        <source>Write OK</source>
        <translation>Zapis OK</translation>
    </message>
    <message>
        <source>Length error</source>
        <translation>Błąd długości</translation>
    </message>
    <message>
        <source>Length should be aligned to 4</source>
        <translation>Długość musi być wielokrotnością 4</translation>
    </message>
    <message>
        <source>WriteExternalFlashToAddress</source>
        <translation>Zapis zewnętrznej pamięci flash nie powiódł się</translation>
    </message>
    <message>
        <source>ReadExternalFlashFromAddress</source>
        <translation>Odczyt zewnętrznej pamięci flash nie powiódł się</translation>
    </message>
    <message>
        <source>memcmp</source>
        <translation>Odczytane dane różnią się od zapisanych</translation>
    </message>
    <message>
        <source>Write To External Flash Tq470</source>
        <translation>Zapis do zewnętrznej pamięci flash Tq470</translation>
    </message>
    <message>
        <source>Data(hex)</source>
        <translation>Dane (hex)</translation>
    </message>
    <message>
        <source>Read External Flash From Tq470</source>
        <translation>Odczyt zewnętrznej pamięci flash Tq470</translation>
    </message>
    <message>
        <source>Hex (*.hex)</source>
        <translation>Plik Intel HEX (*.hex)</translation>
    </message>
    <message>
        <source>Save File</source>
        <translation>Zapisz plik</translation>
    </message>
    <message>
        <source>Production year</source>
        <translation>Rok produkcji</translation>
    </message>
    <message>
        <source>Year(YY)</source>
        <translation>Rok (RR)</translation>
    </message>
    <message>
        <source>Production mont</source>
        <translation>Miesiąc produkcji</translation>
    </message>
    <message>
        <source>Month(MM)</source>
        <translation>Miesiąc (MM)</translation>
    </message>
    <message>
        <source>Production day</source>
        <translation>Dzień produkcji</translation>
    </message>
    <message>
        <source>Day(DD)</source>
        <translation>Dzień (DD)</translation>
    </message>
    <message>
        <source>Production number</source>
        <translation>Numer produkcyjny</translation>
    </message>
    <message>
        <source>Number(NNN)</source>
        <translation>Numer (NNN)</translation>
    </message>
    <message>
        <source>Save bootloader bin</source>
        <translation>Zapisz obraz bootloadera</translation>
    </message>
    <message>
        <source>HexToBin error: %1)</source>
        <translation>Błąd konwersji HexToBin: %1</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>Nie można zapisać %1: %2</translation>
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
        <translation>Otwórz</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Zamknij</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Połącz</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Rozłącz</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Odczytaj</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Zapisz</translation>
    </message>
    <message>
        <source>WritePage</source>
        <translation>Zapisz stronę</translation>
    </message>
    <message>
        <source>Change Firmware</source>
        <translation>Zmień firmware</translation>
    </message>
    <message>
        <source>RunApplication</source>
        <translation>Uruchom aplikację</translation>
    </message>
    <message>
        <source>WriteExternalFlash</source>
        <translation>Zapisz zewnętrzną pamięć flash</translation>
    </message>
    <message>
        <source>ReadExternalFlash</source>
        <translation>Odczytaj zewnętrzną pamięć flash</translation>
    </message>
    <message>
        <source>WriteExtFlashBin</source>
        <translation>Zapisz plik bin do zewnętrznej pamięci flash</translation>
    </message>
    <message>
        <source>CreateUpg</source>
        <translation>Utwórz plik aktualizacji</translation>
    </message>
    <message>
        <source>CreateBootBin</source>
        <translation>Utwórz obraz bootloadera</translation>
    </message>
    <message>
        <source>Flash %p%</source>
        <translation>Flash %p%</translation>
    </message>
    <message>
        <source>External Flash Write %p%</source>
        <translation>Zapis zewnętrznej pamięci flash %p%</translation>
    </message>
    <message>
        <source>External Flash Verify %p%</source>
        <translation>Weryfikacja zewnętrznej pamięci flash %p%</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Plik</translation>
    </message>
</context>
<context>
    <name>Upgrader</name>
    <message>
        <source>The Tq470 left the bus: waiting for it to come back ...</source>
        <translation>Tq470 zniknął z magistrali USB: czekam na jego powrót ...</translation>
    </message>
    <message>
        <source>Wrong file header</source>
        <translation>Błędny nagłówek pliku</translation>
    </message>
    <message>
        <source>Wrong file version</source>
        <translation>Błędna wersja pliku</translation>
    </message>
    <message>
        <source>Wrong file size</source>
        <translation>Błędny rozmiar pliku</translation>
    </message>
    <message>
        <source>Writting firmware ... </source>
        <translation>Zapis firmware ... </translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>the Tq470 stays in its bootloader until a rerun of the upgrade repairs it.</source>
        <translation>Tq470 pozostaje w bootloaderze, dopóki ponowna aktualizacja tego nie naprawi.</translation>
    </message>
    <message>
        <source>Stopped while waiting for the bootloader after the reset: nothing was written; the Tq470 may be in its bootloader or its application; a rerun continues.</source>
        <translation>Zatrzymano podczas oczekiwania na bootloader po resecie: nic nie zapisano; Tq470 może być w bootloaderze albo w aplikacji; ponowna aktualizacja będzie kontynuowana od tego miejsca.</translation>
    </message>
    <message>
        <source>Stopped while writing the application (%1 of %2 pages written): </source>
        <translation>Zatrzymano podczas zapisu aplikacji (zapisano %1 z %2 stron): </translation>
    </message>
    <message>
        <source>Stopped while writing the external flash: the application is written, the external flash partly; </source>
        <translation>Zatrzymano podczas zapisu zewnętrznej pamięci flash: aplikacja jest zapisana, zewnętrzna pamięć flash częściowo; </translation>
    </message>
    <message>
        <source>Stopped while verifying the external flash: the firmware is written but not verified; </source>
        <translation>Zatrzymano podczas weryfikacji zewnętrznej pamięci flash: firmware jest zapisany, ale niezweryfikowany; </translation>
    </message>
    <message>
        <source>Stopped while waiting for the new application to start: the firmware is written and verified; replug the Tq470, or start it with &quot;tq470-flash run&quot;.</source>
        <translation>Zatrzymano podczas oczekiwania na start nowej aplikacji: firmware jest zapisany i zweryfikowany; podłącz Tq470 ponownie albo uruchom go poleceniem &quot;tq470-flash run&quot;.</translation>
    </message>
    <message>
        <source>Stopped before anything was written: the Tq470 holds its previous firmware; run the upgrade again when ready.</source>
        <translation>Zatrzymano, zanim cokolwiek zapisano: Tq470 ma swój dotychczasowy firmware; uruchom aktualizację ponownie, gdy wszystko będzie gotowe.</translation>
    </message>
    <message>
        <source>Done: the Tq470 holds the new firmware and runs it.</source>
        <translation>Gotowe: Tq470 ma nowy firmware i go uruchomił.</translation>
    </message>
    <message>
        <source>Nothing was sent to the Tq470: %1 is no upgrade file; choose the .upg file of its firmware and start again.</source>
        <translation>Nic nie wysłano do Tq470: %1 nie jest plikiem aktualizacji; wybierz plik .upg z jego firmware i zacznij od nowa.</translation>
    </message>
    <message>
        <source>Waiting for the Tq470 to answer ...</source>
        <translation>Czekam na odpowiedź Tq470 ...</translation>
    </message>
    <message>
        <source>USB Timeout
Check USB Cable</source>
        <translation>Przekroczony czas oczekiwania USB
Sprawdź kabel USB</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 on bus %1 device %2 is in use by another program; close that program and start the upgrade again.</source>
        <translation>Nic nie zapisano: Tq470 na magistrali %1, urządzenie %2, jest używany przez inny program; zamknij ten program i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; install the udev rule %3, reload udev, replug the Tq470 and start the upgrade again (the rule lets in the user at the desk and the members of the group %4).</source>
        <translation>Nic nie zapisano: odmówiono dostępu do Tq470 na magistrali %1, urządzenie %2; zainstaluj regułę udev %3, przeładuj udev, podłącz Tq470 ponownie i uruchom aktualizację jeszcze raz (reguła dopuszcza użytkownika przy stanowisku i członków grupy %4).</translation>
    </message>
    <message>
        <source>Nothing was written: access to the Tq470 on bus %1 device %2 was refused; the udev rule %3 lets in the user at the desk and the members of the group %4: work at the desk or join the group, and start the upgrade again.</source>
        <translation>Nic nie zapisano: odmówiono dostępu do Tq470 na magistrali %1, urządzenie %2; reguła udev %3 dopuszcza użytkownika przy stanowisku i członków grupy %4: pracuj przy stanowisku albo dołącz do grupy i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>Nothing was written: no Tq470 answered; plug it in, check the USB cable and start the upgrade again.</source>
        <translation>Nic nie zapisano: żaden Tq470 nie odpowiedział; podłącz go, sprawdź kabel USB i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>Bootloader Version Read Error</source>
        <translation>Błąd odczytu wersji bootloadera</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 did not answer the read of its version; check the USB cable and start the upgrade again.</source>
        <translation>Nic nie zapisano: Tq470 nie odpowiedział na odczyt wersji; sprawdź kabel USB i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>Bootloader mode</source>
        <translation>Tryb bootloadera</translation>
    </message>
    <message>
        <source>Serial:</source>
        <translation>Numer seryjny:</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470&apos;s serial tells neither its bootloader nor its application; replug it and start the upgrade again.</source>
        <translation>Nic nie zapisano: numer seryjny Tq470 nie wskazuje ani bootloadera, ani aplikacji; podłącz go ponownie i uruchom aktualizację jeszcze raz.</translation>
    </message>
    <message>
        <source>Apllication mode</source>
        <translation>Tryb aplikacji</translation>
    </message>
    <message>
        <source>Reset device</source>
        <translation>Reset urządzenia</translation>
    </message>
    <message>
        <source>Waiting for the Tq470 to restart in its bootloader ...</source>
        <translation>Czekam, aż Tq470 uruchomi się ponownie w bootloaderze ...</translation>
    </message>
    <message>
        <source>USB timout
Check USB cable</source>
        <translation>Przekroczony czas oczekiwania USB
Sprawdź kabel USB</translation>
    </message>
    <message>
        <source>Nothing was written: the Tq470 did not come back as its bootloader after the reset and may run either; replug it and start the upgrade again.</source>
        <translation>Nic nie zapisano: po resecie Tq470 nie wrócił jako bootloader i może działać w dowolnym z trybów; podłącz go ponownie i uruchom aktualizację jeszcze raz.</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Rozłączanie</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Łączenie</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>BŁĄD</translation>
    </message>
    <message>
        <source>Not finished: the application is partly written (%1 of %2 pages); </source>
        <translation>Nie ukończono: aplikacja jest zapisana częściowo (%1 z %2 stron); </translation>
    </message>
    <message>
        <source>Writting External Flash ... </source>
        <translation>Zapis zewnętrznej pamięci flash ... </translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>Not finished: the application is written, the external flash only partly; </source>
        <translation>Nie ukończono: aplikacja jest zapisana, zewnętrzna pamięć flash tylko częściowo; </translation>
    </message>
    <message>
        <source>Verify External Flash ...  </source>
        <translation>Weryfikacja zewnętrznej pamięci flash ...  </translation>
    </message>
    <message>
        <source>Not finished: the firmware is written, but the external flash could not be read back; </source>
        <translation>Nie ukończono: firmware jest zapisany, ale nie udało się odczytać zewnętrznej pamięci flash; </translation>
    </message>
    <message>
        <source>read_buffer</source>
        <translation>Odczytane z urządzenia</translation>
    </message>
    <message>
        <source>ext_datas.data()</source>
        <translation>Dane z pliku</translation>
    </message>
    <message>
        <source>Not finished: the firmware is written, but the external flash reads back different from the file; </source>
        <translation>Nie ukończono: firmware jest zapisany, ale dane odczytane z zewnętrznej pamięci flash różnią się od pliku; </translation>
    </message>
    <message>
        <source>The start was not acknowledged: waiting for the Tq470 to come back in its application ...</source>
        <translation>Start nie został potwierdzony: czekam, aż Tq470 wróci w trybie aplikacji ...</translation>
    </message>
    <message>
        <source>The firmware is written and verified, but its start could not be confirmed: replug the Tq470, or start it with &quot;tq470-flash run&quot;</source>
        <translation>Firmware jest zapisany i zweryfikowany, ale nie udało się potwierdzić jego startu: podłącz Tq470 ponownie albo uruchom go poleceniem &quot;tq470-flash run&quot;</translation>
    </message>
</context>
</TS>
