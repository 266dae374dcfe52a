<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl" sourcelanguage="en">
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
        <source>About</source>
        <translation>O programie</translation>
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
        <source>English</source>
        <translation>Angielski</translation>
    </message>
    <message>
        <source>Polish</source>
        <translation>Polski</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>&amp;Język</translation>
    </message>
    <message>
        <source>qLumar VPN - disconnected</source>
        <translation>qLumar VPN - rozłączony</translation>
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
        <translation>Nowa wersja nie jest dostępna.</translation>
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
</context>
</TS>
