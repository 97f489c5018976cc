<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>DemoWindow</name>
    <message>
        <source>Save the changes to the assigned centers?</source>
        <translation>Änderungen an den zugeordneten Arbeitsplätzen speichern?</translation>
    </message>
    <message>
        <source>Velmora Demo</source>
        <translation>Velmora-Demo</translation>
    </message>
    <message>
        <source>employee number</source>
        <translation>Personalnummer</translation>
    </message>
    <message>
        <source>http://host:port</source>
        <translation>http://host:port</translation>
    </message>
    <message>
        <source>&amp;Load</source>
        <translation>&amp;Laden</translation>
    </message>
    <message>
        <source>Employee:</source>
        <translation>Mitarbeiter:</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>Server:</translation>
    </message>
    <message>
        <source>Load failed: %1</source>
        <translation>Laden fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Reload</source>
        <translation>Neu laden</translation>
    </message>
    <message>
        <source>Enter an employee number and a server address, then Load.</source>
        <translation>Personalnummer und Serveradresse eingeben, dann Laden.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an employee number (a signed 32-bit number)</source>
        <translation>„%1“ ist keine Personalnummer (eine vorzeichenbehaftete 32-Bit-Zahl)</translation>
    </message>
    <message>
        <source>Loading...</source>
        <translation>Wird geladen …</translation>
    </message>
    <message>
        <source>Employee %1 loaded from %2</source>
        <translation>Mitarbeiter %1 von %2 geladen</translation>
    </message>
</context>
</TS>
