<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl" sourcelanguage="en">
<context>
    <name>CappedLog</name>
    <message>
        <source>… earlier lines dropped</source>
        <translation>… wcześniejsze wiersze pominięto</translation>
    </message>
</context>
<context>
    <name>CertificateInfo</name>
    <message>
        <source>The certificate %1 expired on %2.</source>
        <translation>Certyfikat %1 wygasł %2.</translation>
    </message>
    <message>
        <source>The certificate %1 expires on %2.</source>
        <translation>Certyfikat %1 wygasa %2.</translation>
    </message>
</context>
<context>
    <name>DialogParts</name>
    <message>
        <source>Required field</source>
        <translation>Pole wymagane</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>qLumar Velkoro</source>
        <translation>qLumar Velkoro</translation>
    </message>
    <message>
        <source>New version is avaliable. Click this
icon to get more informations.</source>
        <translation>Dostępna jest nowa wersja. Kliknij tę
ikonę, aby dowiedzieć się więcej.</translation>
    </message>
    <message>
        <source>&amp;Connect</source>
        <translation>&amp;Połącz</translation>
    </message>
    <message>
        <source>&amp;Disconnect</source>
        <translation>&amp;Rozłącz</translation>
    </message>
    <message>
        <source>&amp;New connection</source>
        <translation>&amp;Nowe połączenie</translation>
    </message>
    <message>
        <source>&amp;Information</source>
        <translation>&amp;Informacje</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Edytuj</translation>
    </message>
    <message>
        <source>De&amp;lete</source>
        <translation>&amp;Usuń</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Zakończ</translation>
    </message>
    <message>
        <source>en</source>
        <translation>pl</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>&amp;Język</translation>
    </message>
    <message>
        <source>qLumar VPN - disconnected</source>
        <translation>qLumar VPN - brak połączenia</translation>
    </message>
    <message>
        <source>&lt;h2&gt;qLumar Velkoro v1.5&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;qLumar Velkoro v1.5&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>&lt;br&gt;&lt;br&gt;&lt;br&gt;</source>
        <translation>&lt;br&gt;&lt;br&gt;&lt;br&gt;</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;http://www.qlumar-velkoro.example/&quot;&gt;www.qlumar-velkoro.example&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;http://www.qlumar-velkoro.example/&quot;&gt;www.qlumar-velkoro.example&lt;/a&gt;</translation>
    </message>
    <message>
        <source>&lt;br&gt;Online instructions to this application are avaliable on the following website: &lt;a href=&quot;http://www.qlumar-velkoro.example/manuals/&quot;&gt;www.qlumar-velkoro.example&lt;/a&gt;</source>
        <translation>&lt;br&gt;Instrukcja obsługi programu jest dostępna w internecie pod adresem: &lt;a href=&quot;http://www.qlumar-velkoro.example/manuals/&quot;&gt;www.qlumar-velkoro.example&lt;/a&gt;</translation>
    </message>
    <message>
        <source>&lt;h4&gt;Thanks to&lt;/h4&gt;Everyone who tested the early builds, the translators, the Qt Project community, the Debian maintainers&lt;h4&gt;Special thanks&lt;/h4&gt;Special thanks to all people who participate in development process of &lt;a href=&quot;https://www.openssl.org/&quot;&gt;OpenSSL&lt;/a&gt; library and &lt;a href=&quot;https://openvpn.net/&quot;&gt;OpenVPN&lt;/a&gt; software. Both of this projects are crucial for this application.</source>
        <translation>&lt;h4&gt;Podziękowania dla&lt;/h4&gt;Wszystkich, którzy testowali wczesne wersje, tłumaczy, społeczności Qt Project, opiekunów pakietów Debiana&lt;h4&gt;Specjalne podziękowania&lt;/h4&gt;Specjalne podziękowania dla wszystkich osób uczestniczących w rozwoju biblioteki &lt;a href=&quot;https://www.openssl.org/&quot;&gt;OpenSSL&lt;/a&gt; i programu &lt;a href=&quot;https://openvpn.net/&quot;&gt;OpenVPN&lt;/a&gt;. Oba te projekty mają kluczowe znaczenie dla tej aplikacji.</translation>
    </message>
    <message>
        <source>No new version avaliable.</source>
        <translation>Brak nowszej wersji.</translation>
    </message>
    <message>
        <source>Available VPN connections</source>
        <translation>Dostępne połączenia VPN</translation>
    </message>
    <message>
        <source>VPN connection log</source>
        <translation>Dziennik połączenia VPN</translation>
    </message>
    <message>
        <source>Version %1 is avaliable on the following website:&lt;br&gt;&lt;br&gt;&lt;a href=&quot;%2&quot;&gt;%3&lt;/a&gt;</source>
        <translation>Wersja %1 jest dostępna na stronie:&lt;br&gt;&lt;br&gt;&lt;a href=&quot;%2&quot;&gt;%3&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Informacja</translation>
    </message>
    <message>
        <source>Application language was changed. Please restart application to apply changes.</source>
        <translation>Język aplikacji został zmieniony. Uruchom aplikację ponownie, aby zastosować zmiany.</translation>
    </message>
    <message>
        <source>Certificates and key</source>
        <translation>Certyfikaty i klucz</translation>
    </message>
    <message>
        <source>PKCS#12 certificate</source>
        <translation>Certyfikat PKCS#12</translation>
    </message>
    <message>
        <source>VPN connection creation method</source>
        <translation>Sposób tworzenia połączenia VPN</translation>
    </message>
    <message>
        <source>Creation method</source>
        <translation>Sposób tworzenia</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>Pytanie</translation>
    </message>
    <message>
        <source>Do you want to delete selected VPN connection?</source>
        <translation>Czy chcesz usunąć wybrane połączenie VPN?</translation>
    </message>
    <message>
        <source>Enter private key password</source>
        <translation>Hasło do klucza prywatnego</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Hasło:</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>Cannot initialize VPN connection!</source>
        <translation>Nie można nawiązać połączenia VPN!</translation>
    </message>
    <message>
        <source>qLumar VPN - no connection</source>
        <translation>qLumar VPN - brak połączenia</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>Rozłączono</translation>
    </message>
    <message>
        <source>VPN connection was closed.</source>
        <translation>Połączenie VPN zostało zamknięte.</translation>
    </message>
    <message>
        <source>qLumar VPN - %1</source>
        <translation>qLumar VPN - %1</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Połączono</translation>
    </message>
    <message>
        <source>VPN connection was initialized properly.</source>
        <translation>Połączenie VPN zostało poprawnie nawiązane.</translation>
    </message>
    <message>
        <source>Incorrect password!</source>
        <translation>Nieprawidłowe hasło!</translation>
    </message>
    <message>
        <source>VPN disconnected</source>
        <translation>VPN rozłączony</translation>
    </message>
    <message>
        <source>No VPN connection is running.</source>
        <translation>Żadne połączenie VPN nie jest aktywne.</translation>
    </message>
    <message>
        <source>VPN connecting to %1</source>
        <translation>VPN łączy z %1</translation>
    </message>
    <message>
        <source>The VPN connection %1 is being set up.</source>
        <translation>Trwa nawiązywanie połączenia VPN %1.</translation>
    </message>
    <message>
        <source>VPN connected to %1</source>
        <translation>VPN połączony z %1</translation>
    </message>
    <message>
        <source>The VPN connection %1 is up.</source>
        <translation>Połączenie VPN %1 jest aktywne.</translation>
    </message>
    <message>
        <source>Forget saved password</source>
        <translation>Zapomnij zapisane hasło</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Ostrzeżenie</translation>
    </message>
    <message>
        <source>The password could not be saved in the keyring: %1</source>
        <translation>Nie udało się zapisać hasła w pęku kluczy: %1</translation>
    </message>
    <message>
        <source>The saved password could not be removed from the keyring: %1</source>
        <translation>Nie udało się usunąć zapisanego hasła z pęku kluczy: %1</translation>
    </message>
    <message>
        <source>PIN:</source>
        <translation>PIN:</translation>
    </message>
    <message>
        <source>Remember</source>
        <translation>Zapamiętaj</translation>
    </message>
    <message>
        <source>No keyring service is running, so nothing can be remembered.</source>
        <translation>Nie działa żadna usługa pęku kluczy, więc nie można niczego zapamiętać.</translation>
    </message>
    <message>
        <source>Remember PIN</source>
        <translation>Zapamiętanie PIN-u</translation>
    </message>
    <message>
        <source>A remembered PIN is sent to the token on every connection. If the PIN on the token is changed, the remembered one is rejected and forgotten, but each wrong try counts towards the token&apos;s lockout.

Remember the PIN anyway?</source>
        <translation>Zapamiętany PIN jest wysyłany do tokenu przy każdym połączeniu. Jeśli PIN tokenu zostanie zmieniony, zapamiętany zostanie odrzucony i zapomniany, ale każda błędna próba przybliża zablokowanie tokenu.

Czy mimo to zapamiętać PIN?</translation>
    </message>
    <message>
        <source>Reconnect automatically</source>
        <translation>Łącz ponownie automatycznie</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>&amp;O programie</translation>
    </message>
    <message>
        <source>Certificate expired</source>
        <translation>Certyfikat wygasł</translation>
    </message>
    <message>
        <source>Certificate expires soon</source>
        <translation>Certyfikat wkrótce wygaśnie</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopiuj</translation>
    </message>
    <message>
        <source>Select &amp;all</source>
        <translation>Zaznacz &amp;wszystko</translation>
    </message>
    <message>
        <source>Save log…</source>
        <translation>Zapisz dziennik…</translation>
    </message>
    <message>
        <source>Save log</source>
        <translation>Zapisz dziennik</translation>
    </message>
    <message>
        <source>Text files (*.txt *.log);;All files (*)</source>
        <translation>Pliki tekstowe (*.txt *.log);;Wszystkie pliki (*)</translation>
    </message>
    <message>
        <source>The log could not be saved to %1: %2</source>
        <translation>Nie udało się zapisać dziennika do %1: %2</translation>
    </message>
</context>
<context>
    <name>ProfileSave</name>
    <message>
        <source>cannot create the directory %1</source>
        <translation>nie można utworzyć katalogu %1</translation>
    </message>
    <message>
        <source>the old profile is kept in %1: %2</source>
        <translation>stary profil pozostaje w %1: %2</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>qLumar VPN</source>
        <translation>qLumar VPN</translation>
    </message>
    <message>
        <source>Cannot run program on taskbar.</source>
        <translation>Nie można uruchomić programu w zasobniku systemowym.</translation>
    </message>
    <message>
        <source>Cannot create or open the connection directory %1.</source>
        <translation>Nie można utworzyć ani otworzyć katalogu połączeń %1.</translation>
    </message>
    <message>
        <source>[untitled VPN connection]</source>
        <translation>[połączenie VPN bez nazwy]</translation>
    </message>
    <message>
        <source>Select certificate file</source>
        <translation>Wybierz plik certyfikatu</translation>
    </message>
    <message>
        <source>Select PKCS#12 certificate file</source>
        <translation>Wybierz plik certyfikatu PKCS#12</translation>
    </message>
    <message>
        <source>PKCS#12 certificate files (*.p12);;All files (*)</source>
        <translation>Pliki certyfikatów PKCS#12 (*.p12);;Wszystkie pliki (*)</translation>
    </message>
    <message>
        <source>Certificate files (*.cert *.crt *.pem);;All files (*)</source>
        <translation>Pliki certyfikatów (*.cert *.crt *.pem);;Wszystkie pliki (*)</translation>
    </message>
</context>
<context>
    <name>RegularFile</name>
    <message>
        <source>not a regular file</source>
        <translation>to nie jest zwykły plik</translation>
    </message>
    <message>
        <source>larger than %1 bytes</source>
        <translation>większy niż %1 bajtów</translation>
    </message>
</context>
<context>
    <name>SecretStore</name>
    <message>
        <source>No keyring service is running.</source>
        <translation>Nie działa żadna usługa przechowywania haseł.</translation>
    </message>
</context>
<context>
    <name>SleepWatcher</name>
    <message>
        <source>no file descriptor</source>
        <translation>brak deskryptora pliku</translation>
    </message>
</context>
<context>
    <name>VpnEditWindow</name>
    <message>
        <source>Connection setup</source>
        <translation>Ustawienia połączenia</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Zapisz</translation>
    </message>
    <message>
        <source>Ca&amp;ncel</source>
        <translation>&amp;Anuluj</translation>
    </message>
    <message>
        <source>VPN conncetion name</source>
        <translation>Nazwa połączenia VPN</translation>
    </message>
    <message>
        <source>Connection name&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa połączenia&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>VPN server</source>
        <translation>Serwer VPN</translation>
    </message>
    <message>
        <source>VPN server name or IP address&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa lub adres IP serwera VPN&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Certificates and key</source>
        <translation>Certyfikaty i klucz</translation>
    </message>
    <message>
        <source>CA certificate&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Certyfikat CA&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Wybierz</translation>
    </message>
    <message>
        <source>User certificate&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Certyfikat użytkownika&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Key name&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa klucza&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Select private key file</source>
        <translation>Wybierz plik klucza prywatnego</translation>
    </message>
    <message>
        <source>Key files (*.key);;All files (*)</source>
        <translation>Pliki kluczy (*.key);;Wszystkie pliki (*)</translation>
    </message>
    <message>
        <source>Missing data</source>
        <translation>Brak wymaganych danych</translation>
    </message>
    <message>
        <source>Enter VPN connection name!</source>
        <translation>Podaj nazwę połączenia VPN!</translation>
    </message>
    <message>
        <source>Enter VPN server name or IP address!</source>
        <translation>Podaj nazwę lub adres IP serwera VPN!</translation>
    </message>
    <message>
        <source>Select CA certificate file!</source>
        <translation>Wybierz plik certyfikatu CA!</translation>
    </message>
    <message>
        <source>Select User certificate file!</source>
        <translation>Wybierz plik certyfikatu użytkownika!</translation>
    </message>
    <message>
        <source>Select private key file!</source>
        <translation>Wybierz plik klucza prywatnego!</translation>
    </message>
    <message>
        <source>Invalid data</source>
        <translation>Nieprawidłowe dane</translation>
    </message>
    <message>
        <source>VPN connection name must not contain line breaks!</source>
        <translation>Nazwa połączenia VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>VPN server name must not contain line breaks!</source>
        <translation>Nazwa serwera VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>Private key name must not contain line breaks!</source>
        <translation>Nazwa klucza prywatnego nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>VPN connection could not be saved:
%1</source>
        <translation>Nie udało się zapisać połączenia VPN:
%1</translation>
    </message>
    <message>
        <source>Certificate file %1 cannot be read or is empty!</source>
        <translation>Nie można odczytać pliku certyfikatu %1 lub plik jest pusty!</translation>
    </message>
    <message>
        <source>Select CA certificate</source>
        <translation>Wybierz certyfikat CA</translation>
    </message>
    <message>
        <source>Select user certificate</source>
        <translation>Wybierz certyfikat użytkownika</translation>
    </message>
    <message>
        <source>Select key file</source>
        <translation>Wybierz plik klucza</translation>
    </message>
</context>
<context>
    <name>VpnInfoWindow</name>
    <message>
        <source>Connection details</source>
        <translation>Szczegóły połączenia</translation>
    </message>
    <message>
        <source>VPN connection name</source>
        <translation>Nazwa połączenia VPN</translation>
    </message>
    <message>
        <source>Connection name:</source>
        <translation>Nazwa połączenia:</translation>
    </message>
    <message>
        <source>VPN server</source>
        <translation>Serwer VPN</translation>
    </message>
    <message>
        <source>VPN server name or IP address:</source>
        <translation>Nazwa lub adres IP serwera VPN:</translation>
    </message>
    <message>
        <source>PKCS#12 certificate</source>
        <translation>Certyfikat PKCS#12</translation>
    </message>
    <message>
        <source>PKCS#12 certificate file:</source>
        <translation>Plik certyfikatu PKCS#12:</translation>
    </message>
    <message>
        <source>Certificates and key</source>
        <translation>Certyfikaty i klucz</translation>
    </message>
    <message>
        <source>CA certificate:</source>
        <translation>Certyfikat CA:</translation>
    </message>
    <message>
        <source>User certificate:</source>
        <translation>Certyfikat użytkownika:</translation>
    </message>
    <message>
        <source>Key file:</source>
        <translation>Nazwa klucza:</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Zamknij</translation>
    </message>
    <message>
        <source>from %1 to %2 (expired)</source>
        <translation>od %1 do %2 (wygasł)</translation>
    </message>
    <message>
        <source>from %1 to %2 (expires soon)</source>
        <translation>od %1 do %2 (wkrótce wygaśnie)</translation>
    </message>
    <message>
        <source>from %1 to %2</source>
        <translation>od %1 do %2</translation>
    </message>
    <message>
        <source>Subject:</source>
        <translation>Podmiot:</translation>
    </message>
    <message>
        <source>Issuer:</source>
        <translation>Wystawca:</translation>
    </message>
    <message>
        <source>Valid:</source>
        <translation>Ważny:</translation>
    </message>
    <message>
        <source>Certificates:</source>
        <translation>Certyfikaty:</translation>
    </message>
    <message>
        <source>encrypted with the file&apos;s password</source>
        <translation>zaszyfrowane hasłem pliku</translation>
    </message>
</context>
<context>
    <name>VpnNewWindow</name>
    <message>
        <source>New connection wizard</source>
        <translation>Kreator nowego połączenia</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Zapisz</translation>
    </message>
    <message>
        <source>Can&amp;cel</source>
        <translation>&amp;Anuluj</translation>
    </message>
    <message>
        <source>VPN conncetion name</source>
        <translation>Nazwa połączenia VPN</translation>
    </message>
    <message>
        <source>Connection name&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa połączenia&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Connection template file</source>
        <translation>Plik szablonu połączenia</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Wybierz</translation>
    </message>
    <message>
        <source>VPN server</source>
        <translation>Serwer VPN</translation>
    </message>
    <message>
        <source>VPN server name or IP address&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa lub adres IP serwera VPN&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Certificates and key</source>
        <translation>Certyfikaty i klucz</translation>
    </message>
    <message>
        <source>CA certificate&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Certyfikat CA&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>User certificate&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Certyfikat użytkownika&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Key name&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa klucza&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Select file</source>
        <translation>Wybierz plik</translation>
    </message>
    <message>
        <source>Select private key file</source>
        <translation>Wybierz plik klucza prywatnego</translation>
    </message>
    <message>
        <source>Key files (*.key);;All files (*)</source>
        <translation>Pliki kluczy (*.key);;Wszystkie pliki (*)</translation>
    </message>
    <message>
        <source>Missing data</source>
        <translation>Brak wymaganych danych</translation>
    </message>
    <message>
        <source>Enter VPN connection name!</source>
        <translation>Podaj nazwę połączenia VPN!</translation>
    </message>
    <message>
        <source>Enter VPN server name or IP address!</source>
        <translation>Podaj nazwę lub adres IP serwera VPN!</translation>
    </message>
    <message>
        <source>Select CA certificate file!</source>
        <translation>Wybierz plik certyfikatu CA!</translation>
    </message>
    <message>
        <source>Select User certificate file!</source>
        <translation>Wybierz plik certyfikatu użytkownika!</translation>
    </message>
    <message>
        <source>Select private key file!</source>
        <translation>Wybierz plik klucza prywatnego!</translation>
    </message>
    <message>
        <source>Invalid data</source>
        <translation>Nieprawidłowe dane</translation>
    </message>
    <message>
        <source>VPN connection name must not contain line breaks!</source>
        <translation>Nazwa połączenia VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>VPN server name must not contain line breaks!</source>
        <translation>Nazwa serwera VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>Private key name must not contain line breaks!</source>
        <translation>Nazwa klucza prywatnego nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>VPN connection could not be saved:
%1</source>
        <translation>Nie udało się zapisać połączenia VPN:
%1</translation>
    </message>
    <message>
        <source>Certificate file %1 cannot be read or is empty!</source>
        <translation>Nie można odczytać pliku certyfikatu %1 lub plik jest pusty!</translation>
    </message>
    <message>
        <source>Select connection template file</source>
        <translation>Wybierz plik szablonu połączenia</translation>
    </message>
    <message>
        <source>Select CA certificate</source>
        <translation>Wybierz certyfikat CA</translation>
    </message>
    <message>
        <source>Select user certificate</source>
        <translation>Wybierz certyfikat użytkownika</translation>
    </message>
    <message>
        <source>Select key file</source>
        <translation>Wybierz plik klucza</translation>
    </message>
</context>
<context>
    <name>VpnPKCS12EditWindow</name>
    <message>
        <source>Connection setup</source>
        <translation>Ustawienia połączenia</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Zapisz</translation>
    </message>
    <message>
        <source>Ca&amp;ncel</source>
        <translation>&amp;Anuluj</translation>
    </message>
    <message>
        <source>VPN conncetion name</source>
        <translation>Nazwa połączenia VPN</translation>
    </message>
    <message>
        <source>Connection name&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa połączenia&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>VPN server</source>
        <translation>Serwer VPN</translation>
    </message>
    <message>
        <source>VPN server name or IP address&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa lub adres IP serwera VPN&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>PKCS#12 certificate</source>
        <translation>Certyfikat PKCS#12</translation>
    </message>
    <message>
        <source>PKCS#12 certificate file&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Plik certyfikatu PKCS#12&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Wybierz</translation>
    </message>
    <message>
        <source>Missing data</source>
        <translation>Brak wymaganych danych</translation>
    </message>
    <message>
        <source>Enter VPN connection name!</source>
        <translation>Podaj nazwę połączenia VPN!</translation>
    </message>
    <message>
        <source>Enter VPN server name or IP address!</source>
        <translation>Podaj nazwę lub adres IP serwera VPN!</translation>
    </message>
    <message>
        <source>Select PKCS#12 certificate file!</source>
        <translation>Wybierz plik certyfikatu PKCS#12!</translation>
    </message>
    <message>
        <source>Invalid data</source>
        <translation>Nieprawidłowe dane</translation>
    </message>
    <message>
        <source>VPN connection name must not contain line breaks!</source>
        <translation>Nazwa połączenia VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>VPN server name must not contain line breaks!</source>
        <translation>Nazwa serwera VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>PKCS#12 certificate file path must not contain line breaks!</source>
        <translation>Ścieżka pliku certyfikatu PKCS#12 nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>VPN connection could not be saved:
%1</source>
        <translation>Nie udało się zapisać połączenia VPN:
%1</translation>
    </message>
    <message>
        <source>Select PKCS#12 certificate file</source>
        <translation>Wybierz plik certyfikatu PKCS#12</translation>
    </message>
</context>
<context>
    <name>VpnPKCS12NewWindow</name>
    <message>
        <source>New connection wizard</source>
        <translation>Kreator nowego połączenia</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Zapisz</translation>
    </message>
    <message>
        <source>Can&amp;cel</source>
        <translation>&amp;Anuluj</translation>
    </message>
    <message>
        <source>VPN conncetion name</source>
        <translation>Nazwa połączenia VPN</translation>
    </message>
    <message>
        <source>Connection name&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa połączenia&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Connection template file</source>
        <translation>Plik szablonu połączenia</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Wybierz</translation>
    </message>
    <message>
        <source>VPN server</source>
        <translation>Serwer VPN</translation>
    </message>
    <message>
        <source>VPN server name or IP address&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa lub adres IP serwera VPN&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>PKCS#12 certificate</source>
        <translation>Certyfikat PKCS#12</translation>
    </message>
    <message>
        <source>PKCS#12 certificate file&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Plik certyfikatu PKCS#12&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Select file</source>
        <translation>Wybierz plik</translation>
    </message>
    <message>
        <source>Missing data</source>
        <translation>Brak wymaganych danych</translation>
    </message>
    <message>
        <source>Enter VPN connection name!</source>
        <translation>Podaj nazwę połączenia VPN!</translation>
    </message>
    <message>
        <source>Enter VPN server name or IP address!</source>
        <translation>Podaj nazwę lub adres IP serwera VPN!</translation>
    </message>
    <message>
        <source>Select PKCS#12 certificate file!</source>
        <translation>Wybierz plik certyfikatu PKCS#12!</translation>
    </message>
    <message>
        <source>Invalid data</source>
        <translation>Nieprawidłowe dane</translation>
    </message>
    <message>
        <source>VPN connection name must not contain line breaks!</source>
        <translation>Nazwa połączenia VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>VPN server name must not contain line breaks!</source>
        <translation>Nazwa serwera VPN nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>PKCS#12 certificate file path must not contain line breaks!</source>
        <translation>Ścieżka pliku certyfikatu PKCS#12 nie może zawierać znaków nowego wiersza!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>VPN connection could not be saved:
%1</source>
        <translation>Nie udało się zapisać połączenia VPN:
%1</translation>
    </message>
    <message>
        <source>Select connection template file</source>
        <translation>Wybierz plik szablonu połączenia</translation>
    </message>
    <message>
        <source>Select PKCS#12 certificate file</source>
        <translation>Wybierz plik certyfikatu PKCS#12</translation>
    </message>
</context>
</TS>
