<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl" sourcelanguage="en">
<context>
    <name>MailRetriever</name>
    <message>
        <source>Cannot connect to the mail server.</source>
        <translation>Nie można połączyć się z serwerem poczty.</translation>
    </message>
</context>
<context>
    <name>MailSender</name>
    <message>
        <source>The message could not be sent.</source>
        <translation>Nie udało się wysłać wiadomości.</translation>
    </message>
</context>
<context>
    <name>TerminalSession</name>
    <message>
        <source>Connection closed by the remote host.</source>
        <translation>Zdalny host zamknął połączenie.</translation>
    </message>
</context>
</TS>
