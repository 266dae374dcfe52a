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
    <name>ConnectionStatus</name>
    <message>
        <source>Disconnected</source>
        <translation>Brak połączenia</translation>
    </message>
    <message>
        <source>Connecting to %1…</source>
        <translation>Łączenie z %1…</translation>
    </message>
    <message>
        <source>Connection to %1 failed: %2</source>
        <translation>Nie udało się połączyć z %1: %2</translation>
    </message>
    <message>
        <source>Connected to %1 since %2</source>
        <translation>Połączono z %1 od %2</translation>
    </message>
    <message>
        <source>The password or PIN was not accepted.</source>
        <translation>Hasło lub PIN nie zostały przyjęte.</translation>
    </message>
    <message>
        <source>No PKCS#11 module is set up for the token.</source>
        <translation>Nie skonfigurowano modułu PKCS#11 dla tokenu.</translation>
    </message>
    <message>
        <source>The VPN server cannot be reached.</source>
        <translation>Nie można połączyć się z serwerem VPN.</translation>
    </message>
    <message>
        <source>The certificate has expired.</source>
        <translation>Certyfikat wygasł.</translation>
    </message>
    <message>
        <source>The server did not accept the login.</source>
        <translation>Serwer nie przyjął logowania.</translation>
    </message>
    <message>
        <source>The VPN engine stopped unexpectedly.</source>
        <translation>Silnik VPN nieoczekiwanie przerwał pracę.</translation>
    </message>
    <message>
        <source>The configuration was refused.</source>
        <translation>Konfiguracja została odrzucona.</translation>
    </message>
    <message>
        <source>The configuration was refused: %1</source>
        <translation>Konfiguracja została odrzucona: %1</translation>
    </message>
    <message>
        <source>The VPN engine ended with an error.</source>
        <translation>Silnik VPN zakończył pracę z błędem.</translation>
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
    <name>ImportWindow</name>
    <message>
        <source>Missing data</source>
        <translation>Brak wymaganych danych</translation>
    </message>
    <message>
        <source>Enter VPN connection name!</source>
        <translation>Podaj nazwę połączenia VPN!</translation>
    </message>
    <message>
        <source>Choose a password for the PKCS#12 file!</source>
        <translation>Wybierz hasło do pliku PKCS#12!</translation>
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
        <source>PKCS#12 certificate, packed from the file&apos;s certificate and key</source>
        <translation>Certyfikat PKCS#12, spakowany z certyfikatu i klucza z pliku</translation>
    </message>
    <message>
        <source>PKCS#12 certificate</source>
        <translation>Certyfikat PKCS#12</translation>
    </message>
    <message>
        <source>Certificate and key in a token</source>
        <translation>Certyfikat i klucz w tokenie</translation>
    </message>
    <message>
        <source>Username and password</source>
        <translation>Nazwa użytkownika i hasło</translation>
    </message>
    <message>
        <source>kept</source>
        <translation>bez zmian</translation>
    </message>
    <message>
        <source>changed</source>
        <translation>zmieniona</translation>
    </message>
    <message>
        <source>changed to: %1</source>
        <translation>zmieniona na: %1</translation>
    </message>
    <message>
        <source>left out</source>
        <translation>pominięta</translation>
    </message>
    <message>
        <source>What the import makes of each line</source>
        <translation>Co import robi z każdą linią</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>Linia</translation>
    </message>
    <message>
        <source>In the file</source>
        <translation>W pliku</translation>
    </message>
    <message>
        <source>In the connection</source>
        <translation>W połączeniu</translation>
    </message>
    <message>
        <source>Why</source>
        <translation>Dlaczego</translation>
    </message>
    <message>
        <source>Import connection</source>
        <translation>Import połączenia</translation>
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
        <source>VPN connection</source>
        <translation>Połączenie VPN</translation>
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
        <source>%1, port %2</source>
        <translation>%1, port %2</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>Rodzaj</translation>
    </message>
    <message>
        <source>Sign-in</source>
        <translation>Logowanie</translation>
    </message>
    <message>
        <source>username and password, asked for when connecting</source>
        <translation>nazwa użytkownika i hasło, podawane przy łączeniu</translation>
    </message>
    <message>
        <source>username, password and a one-time code, asked for when connecting</source>
        <translation>nazwa użytkownika, hasło i kod jednorazowy, podawane przy łączeniu</translation>
    </message>
    <message>
        <source>PKCS#12 password</source>
        <translation>Hasło pliku PKCS#12</translation>
    </message>
    <message>
        <source>The certificate and private key are packed into a PKCS#12 file protected by this password, which you enter when connecting. Left empty, the key&apos;s passphrase protects it.</source>
        <translation>Certyfikat i klucz prywatny zostaną spakowane do pliku PKCS#12 chronionego tym hasłem, które podaje się przy łączeniu. Jeśli pole zostanie puste, plik chroni hasło klucza.</translation>
    </message>
    <message>
        <source>The certificate and private key are packed into a PKCS#12 file protected by this password, which you enter when connecting.</source>
        <translation>Certyfikat i klucz prywatny zostaną spakowane do pliku PKCS#12 chronionego tym hasłem, które podaje się przy łączeniu.</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Hasło</translation>
    </message>
    <message>
        <source>Repeat password</source>
        <translation>Powtórz hasło</translation>
    </message>
    <message>
        <source>Private key passphrase&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Hasło klucza prywatnego&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Key in the token</source>
        <translation>Klucz w tokenie</translation>
    </message>
    <message>
        <source>The file names the key by its token identifier; the connection names it by its label in the token.</source>
        <translation>Plik wskazuje klucz identyfikatorem w tokenie; połączenie wskazuje go etykietą w tokenie.</translation>
    </message>
    <message>
        <source>Token identifier</source>
        <translation>Identyfikator w tokenie</translation>
    </message>
    <message>
        <source>Key name&lt;sup&gt;*&lt;/sup&gt;</source>
        <translation>Nazwa klucza&lt;sup&gt;*&lt;/sup&gt;</translation>
    </message>
    <message>
        <source>Lines of the file</source>
        <translation>Linie pliku</translation>
    </message>
    <message>
        <source>Kept: %1, changed: %2, left out: %3.</source>
        <translation>Bez zmian: %1, zmienione: %2, pominięte: %3.</translation>
    </message>
    <message>
        <source>The file %1 cannot be imported:
%2</source>
        <translation>Nie można zaimportować pliku %1:
%2</translation>
    </message>
    <message>
        <source>OpenVPN files (*.ovpn *.conf);;All files (*)</source>
        <translation>Pliki OpenVPN (*.ovpn *.conf);;Wszystkie pliki (*)</translation>
    </message>
    <message>
        <source>Enter the passphrase of the private key!</source>
        <translation>Podaj hasło klucza prywatnego!</translation>
    </message>
    <message>
        <source>The passwords do not match!</source>
        <translation>Hasła nie są zgodne!</translation>
    </message>
    <message>
        <source>Enter the name of the key in the token!</source>
        <translation>Podaj nazwę klucza w tokenie!</translation>
    </message>
</context>
<context>
    <name>Prompt</name>
    <message>
        <source>Username:</source>
        <translation>Nazwa użytkownika:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Hasło:</translation>
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
        <source>Connection failed</source>
        <translation>Połączenie nieudane</translation>
    </message>
    <message>
        <source>Username:</source>
        <translation>Nazwa użytkownika:</translation>
    </message>
    <message>
        <source>One-time code:</source>
        <translation>Kod jednorazowy:</translation>
    </message>
    <message>
        <source>Answer:</source>
        <translation>Odpowiedź:</translation>
    </message>
    <message>
        <source>Sign in to %1</source>
        <translation>Logowanie do %1</translation>
    </message>
    <message>
        <source>Opening %1 in the web browser to sign in</source>
        <translation>Otwieranie %1 w przeglądarce w celu zalogowania</translation>
    </message>
    <message>
        <source>Import connection…</source>
        <translation>Importuj połączenie…</translation>
    </message>
    <message>
        <source>The server rejected the username or password.</source>
        <translation>Serwer odrzucił nazwę użytkownika lub hasło.</translation>
    </message>
    <message>
        <source>Remember password</source>
        <translation>Zapamiętaj hasło</translation>
    </message>
    <message>
        <source>Waiting for sign-in in your browser…</source>
        <translation>Oczekiwanie na zalogowanie w przeglądarce…</translation>
    </message>
    <message>
        <source>Import connection</source>
        <translation>Import połączenia</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Uruchamiaj po zalogowaniu</translation>
    </message>
    <message>
        <source>Cannot change the start at login: %1</source>
        <translation>Nie można zmienić uruchamiania po zalogowaniu: %1</translation>
    </message>
    <message>
        <source>No system tray</source>
        <translation>Brak zasobnika systemowego</translation>
    </message>
    <message>
        <source>No system tray was found, so qLumar Velkoro runs
as a normal window: closing it ends the program.
As soon as a tray appears, the icon shows there and
closing the window hides it in the tray again.
On GNOME, install and switch on the AppIndicator
extension (Debian package
gnome-shell-extension-appindicator).</source>
        <translation>Nie znaleziono zasobnika systemowego, więc qLumar
Velkoro działa jako zwykłe okno: zamknięcie go
kończy program. Gdy tylko pojawi się zasobnik,
ikona pokaże się w nim, a zamknięcie okna znów
schowa je do zasobnika. W GNOME zainstaluj i włącz
rozszerzenie AppIndicator (pakiet Debiana
gnome-shell-extension-appindicator).</translation>
    </message>
    <message>
        <source>A VPN connection is running. Closing the window ends it and the program. Close anyway?</source>
        <translation>Połączenie VPN jest aktywne. Zamknięcie okna zakończy je wraz z programem. Zamknąć mimo to?</translation>
    </message>
    <message>
        <source>There is no VPN connection named %1.</source>
        <translation>Nie ma połączenia VPN o nazwie %1.</translation>
    </message>
    <message>
        <source>The VPN connection %1 cannot be started now: another connection is running.</source>
        <translation>Nie można teraz uruchomić połączenia VPN %1: działa inne połączenie.</translation>
    </message>
    <message>
        <source>The VPN connection %1 cannot be started now: a connection is being edited.</source>
        <translation>Nie można teraz uruchomić połączenia VPN %1: trwa edycja połączenia.</translation>
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
    <name>OvpnImport</name>
    <message>
        <source>Choose a password for the PKCS#12 file!</source>
        <translation>Wybierz hasło do pliku PKCS#12!</translation>
    </message>
    <message>
        <source>comment</source>
        <translation>komentarz</translation>
    </message>
    <message>
        <source>kept for OpenVPN</source>
        <translation>zachowana dla OpenVPN</translation>
    </message>
    <message>
        <source>inline block, kept inline</source>
        <translation>blok wbudowany, zachowany w pliku</translation>
    </message>
    <message>
        <source>names its inline block, which is imported by itself</source>
        <translation>wskazuje swój blok wbudowany, importowany osobno</translation>
    </message>
    <message>
        <source>server and port are the connection&apos;s own, in the profile&apos;s header</source>
        <translation>serwer i port należą do połączenia, są w nagłówku profilu</translation>
    </message>
    <message>
        <source>server and port moved to the profile&apos;s header; its protocol is kept</source>
        <translation>serwer i port przeniesione do nagłówka profilu; protokół zachowany</translation>
    </message>
    <message>
        <source>a further server, written so that the first one stays the connection&apos;s server</source>
        <translation>kolejny serwer, zapisany tak, by serwerem połączenia pozostał pierwszy</translation>
    </message>
    <message>
        <source>server of a &lt;connection&gt; block, written so that the manager does not read it as the connection&apos;s server</source>
        <translation>serwer bloku &lt;connection&gt;, zapisany tak, by menedżer nie odczytał go jako serwera połączenia</translation>
    </message>
    <message>
        <source>the file beside the imported one is now inline</source>
        <translation>plik obok importowanego jest teraz wbudowany</translation>
    </message>
    <message>
        <source>written to a file of the profile, as the manager would misread it inline</source>
        <translation>zapisany do pliku profilu, bo wbudowany zostałby źle odczytany przez menedżera</translation>
    </message>
    <message>
        <source>the PKCS#12 file is now the profile&apos;s own file</source>
        <translation>plik PKCS#12 jest teraz własnym plikiem profilu</translation>
    </message>
    <message>
        <source>packed into the profile&apos;s PKCS#12 file, protected by the password chosen at import</source>
        <translation>spakowany do pliku PKCS#12 profilu, chronionego hasłem wybranym przy imporcie</translation>
    </message>
    <message>
        <source>copied into the profile for the token key</source>
        <translation>skopiowany do profilu dla klucza w tokenie</translation>
    </message>
    <message>
        <source>the token comes from the manager&apos;s settings and the key from the profile&apos;s key name</source>
        <translation>token pochodzi z ustawień menedżera, a klucz z nazwy klucza w profilu</translation>
    </message>
    <message>
        <source>username and password are asked for when connecting and never stored with the profile</source>
        <translation>nazwa użytkownika i hasło są podawane przy łączeniu i nigdy nie są zapisywane w profilu</translation>
    </message>
    <message>
        <source>the manager would read this line as the connection&apos;s own data</source>
        <translation>menedżer odczytałby tę linię jako dane samego połączenia</translation>
    </message>
    <message>
        <source>runs programs on this computer; an imported file may not do that</source>
        <translation>uruchamia programy na tym komputerze; importowany plik nie może tego robić</translation>
    </message>
    <message>
        <source>would take OpenVPN out of the manager&apos;s reach</source>
        <translation>wyprowadziłaby OpenVPN spod kontroli menedżera</translation>
    </message>
    <message>
        <source>changes the directory, so the profile&apos;s files would not be found</source>
        <translation>zmienia katalog, więc pliki profilu nie zostałyby znalezione</translation>
    </message>
    <message>
        <source>reads another configuration file, which is not imported</source>
        <translation>wczytuje inny plik konfiguracji, który nie jest importowany</translation>
    </message>
    <message>
        <source>a stand-alone command, not part of a connection</source>
        <translation>samodzielne polecenie, nie część połączenia</translation>
    </message>
    <message>
        <source>names a directory, which is not imported</source>
        <translation>wskazuje katalog, który nie jest importowany</translation>
    </message>
    <message>
        <source>unknown directive; OpenVPN is told to skip it if it does not know it either</source>
        <translation>nieznana dyrektywa; OpenVPN pominie ją, jeśli też jej nie zna</translation>
    </message>
    <message>
        <source>an option of OpenVPN on Windows; OpenVPN here is told to skip it</source>
        <translation>opcja OpenVPN dla systemu Windows; OpenVPN tutaj ją pominie</translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation>Nie można odczytać %1: %2</translation>
    </message>
    <message>
        <source>Cannot read %1 (%2): %3</source>
        <translation>Nie można odczytać %1 (%2): %3</translation>
    </message>
    <message>
        <source>Line %1: &lt;%2&gt; is not closed</source>
        <translation>Linia %1: blok &lt;%2&gt; nie jest zamknięty</translation>
    </message>
    <message>
        <source>Line %1: &lt;pkcs12&gt; is not base64</source>
        <translation>Linia %1: blok &lt;pkcs12&gt; nie jest zapisany w base64</translation>
    </message>
    <message>
        <source>The file names no server (remote)</source>
        <translation>Plik nie podaje serwera (remote)</translation>
    </message>
    <message>
        <source>Invalid server name &apos;%1&apos;</source>
        <translation>Nieprawidłowa nazwa serwera &apos;%1&apos;</translation>
    </message>
    <message>
        <source>Invalid server port &apos;%1&apos;</source>
        <translation>Nieprawidłowy port serwera &apos;%1&apos;</translation>
    </message>
    <message>
        <source>A token profile needs the CA certificate (ca)</source>
        <translation>Profil z kluczem w tokenie wymaga certyfikatu CA (ca)</translation>
    </message>
    <message>
        <source>The file has a certificate but no private key (key)</source>
        <translation>Plik ma certyfikat, ale nie ma klucza prywatnego (key)</translation>
    </message>
    <message>
        <source>The file has a private key but no certificate (cert)</source>
        <translation>Plik ma klucz prywatny, ale nie ma certyfikatu (cert)</translation>
    </message>
    <message>
        <source>The file holds no credentials: no PKCS#12 file, certificate and key, token key or username and password</source>
        <translation>Plik nie zawiera danych logowania: pliku PKCS#12, certyfikatu z kluczem, klucza w tokenie ani nazwy użytkownika i hasła</translation>
    </message>
    <message>
        <source>The private key cannot be read with this passphrase (%1)</source>
        <translation>Nie można odczytać klucza prywatnego tym hasłem (%1)</translation>
    </message>
    <message>
        <source>The private key cannot be read (%1)</source>
        <translation>Nie można odczytać klucza prywatnego (%1)</translation>
    </message>
    <message>
        <source>The certificate cannot be read</source>
        <translation>Nie można odczytać certyfikatu</translation>
    </message>
    <message>
        <source>The private key does not belong to the certificate</source>
        <translation>Klucz prywatny nie należy do certyfikatu</translation>
    </message>
    <message>
        <source>The PKCS#12 file cannot be made (%1)</source>
        <translation>Nie można utworzyć pliku PKCS#12 (%1)</translation>
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
        <source>Private key name must not contain line breaks!</source>
        <translation>Nazwa klucza prywatnego nie może zawierać znaków nowego wiersza!</translation>
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
        <source>Certificate file %1 cannot be read or is empty!</source>
        <translation>Nie można odczytać pliku certyfikatu %1 lub plik jest pusty!</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>qLumar VPN</source>
        <translation>qLumar VPN</translation>
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
        <source>Select connection template file</source>
        <translation>Wybierz plik szablonu połączenia</translation>
    </message>
    <message>
        <source>Select PKCS#12 certificate file</source>
        <translation>Wybierz plik certyfikatu PKCS#12</translation>
    </message>
</context>
</TS>
