<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CenterDocumentReader</name>
    <message>
        <source>,</source>
        <extracomment>The separator of digit groups in numbers such as 32,767.</extracomment>
        <translation>.</translation>
    </message>
    <message>
        <source>The server&apos;s answer contains the control character 0x%1 at byte %2, which XML does not allow</source>
        <translation>Die Antwort des Servers enthält bei Byte %2 das Steuerzeichen 0x%1, das XML nicht erlaubt</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not valid UTF-8 at byte %1</source>
        <translation>Die Antwort des Servers ist bei Byte %1 kein gültiges UTF-8</translation>
    </message>
    <message>
        <source>The server&apos;s answer is UTF-16 but has an odd number of bytes</source>
        <translation>Die Antwort des Servers ist UTF-16, hat aber eine ungerade Anzahl von Bytes</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not valid UTF-16 at byte %1</source>
        <translation>Die Antwort des Servers ist bei Byte %1 kein gültiges UTF-16</translation>
    </message>
    <message>
        <source>The server&apos;s answer is in UTF-32, which the control does not read</source>
        <translation>Die Antwort des Servers ist in UTF-32 kodiert, das das Steuerelement nicht liest</translation>
    </message>
    <message>
        <source>The server&apos;s answer declares the encoding &quot;%1&quot;, which the control does not read</source>
        <translation>Die Antwort des Servers gibt die Kodierung „%1“ an, die das Steuerelement nicht liest</translation>
    </message>
    <message>
        <source>line %1, column %2</source>
        <translation>Zeile %1, Spalte %2</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not XML: a &apos;&amp;&apos; in the text at %1 does not start a reference</source>
        <translation>Die Antwort des Servers ist kein XML: Ein „&amp;“ im Text in %1 leitet keine Referenz ein</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not XML: the character reference %1 in the text at %2 is malformed or names a character XML does not allow</source>
        <translation>Die Antwort des Servers ist kein XML: Die Zeichenreferenz %1 im Text in %2 ist fehlerhaft oder bezeichnet ein Zeichen, das XML nicht erlaubt</translation>
    </message>
    <message>
        <source>The server&apos;s answer uses the entity %1 in the text at %2, which the control does not expand: it reads only the five predefined entities and character references</source>
        <translation>Die Antwort des Servers verwendet im Text in %2 die Entität %1, die das Steuerelement nicht auflöst: Es liest nur die fünf vordefinierten Entitäten und Zeichenreferenzen</translation>
    </message>
    <message>
        <source>a comment</source>
        <translation>ein Kommentar</translation>
    </message>
    <message>
        <source>a processing instruction</source>
        <translation>eine Verarbeitungsanweisung</translation>
    </message>
    <message>
        <source>text</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>a CDATA section</source>
        <translation>ein CDATA-Abschnitt</translation>
    </message>
    <message>
        <source>a node of another kind</source>
        <translation>ein Knoten anderer Art</translation>
    </message>
    <message>
        <source>The center document has no count of %1 (root node 1, child 1, child %2)</source>
        <translation>Das Arbeitsplatzdokument enthält keine Anzahl der %1 (Wurzelknoten 1, Kind 1, Kind %2)</translation>
    </message>
    <message>
        <source>The count of %1 %2 is not a number</source>
        <translation>Die Anzahl der %1 %2 ist keine Zahl</translation>
    </message>
    <message>
        <source>The count of %1 %2 lies outside %3 to %4</source>
        <translation>Die Anzahl der %1 %2 liegt außerhalb von %3 bis %4</translation>
    </message>
    <message>
        <source>The center document has no list of %1 (root node %2)</source>
        <translation>Das Arbeitsplatzdokument enthält keine Liste der %1 (Wurzelknoten %2)</translation>
    </message>
    <message>
        <source>Center record %1 of the %2</source>
        <translation>Arbeitsplatzeintrag %1 der %2</translation>
    </message>
    <message>
        <source>%1 is %2, not a center record</source>
        <translation>%1 ist %2, kein Arbeitsplatzeintrag</translation>
    </message>
    <message>
        <source>%1 has neither an ID nor a name</source>
        <translation>%1 hat weder eine ID noch einen Namen</translation>
    </message>
    <message>
        <source>%1 has an ID field but no name field</source>
        <translation>%1 hat ein ID-Feld, aber kein Namensfeld</translation>
    </message>
    <message>
        <source>%1 has no ID</source>
        <translation>%1 hat keine ID</translation>
    </message>
    <message>
        <source>%1 has no name</source>
        <translation>%1 hat keinen Namen</translation>
    </message>
    <message>
        <source>%1 has the ID %2, which is not a whole number</source>
        <translation>%1 hat die ID %2, die keine ganze Zahl ist</translation>
    </message>
    <message>
        <source>The center document lists more than %1 centers</source>
        <translation>Das Arbeitsplatzdokument führt mehr als %1 Arbeitsplätze auf</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not XML: it has no document element</source>
        <translation>Die Antwort des Servers ist kein XML: Sie hat kein Dokumentelement</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not XML: %1 at %2</source>
        <translation>Die Antwort des Servers ist kein XML: %1 in %2</translation>
    </message>
    <message>
        <source>The server&apos;s answer is %1 bytes long, more than the %2 bytes the control reads</source>
        <translation>Die Antwort des Servers ist %1 Bytes lang, mehr als die %2 Bytes, die das Steuerelement liest</translation>
    </message>
    <message>
        <source>The server&apos;s answer is empty</source>
        <translation>Die Antwort des Servers ist leer</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not XML: a second document element follows the first at %1</source>
        <translation>Die Antwort des Servers ist kein XML: In %1 folgt auf das erste ein zweites Dokumentelement</translation>
    </message>
    <message>
        <source>The center document has no counts element (root node 1)</source>
        <translation>Das Arbeitsplatzdokument enthält kein Element mit den Anzahlen (Wurzelknoten 1)</translation>
    </message>
    <message>
        <source>The center document has no counts record (root node 1, child 1)</source>
        <translation>Das Arbeitsplatzdokument enthält keinen Eintrag mit den Anzahlen (Wurzelknoten 1, Kind 1)</translation>
    </message>
    <message>
        <source>non-selected centers</source>
        <translation>nicht ausgewählten Arbeitsplätze</translation>
    </message>
    <message>
        <source>selected centers</source>
        <translation>ausgewählten Arbeitsplätze</translation>
    </message>
    <message>
        <source>The counts add up to %1, more than %2</source>
        <translation>Die Anzahlen ergeben zusammen %1, mehr als %2</translation>
    </message>
    <message>
        <source>The counts add up to %1, less than %2</source>
        <translation>Die Anzahlen ergeben zusammen %1, weniger als %2</translation>
    </message>
    <message>
        <source>The server&apos;s answer is too large to read</source>
        <translation>Die Antwort des Servers ist zu groß zum Lesen</translation>
    </message>
    <message>
        <source>could not determine tag type</source>
        <translation>Art des Tags nicht erkennbar</translation>
    </message>
    <message>
        <source>error parsing document declaration/processing instruction</source>
        <translation>Fehler in der Dokumentdeklaration oder Verarbeitungsanweisung</translation>
    </message>
    <message>
        <source>error parsing comment</source>
        <translation>Fehler in einem Kommentar</translation>
    </message>
    <message>
        <source>error parsing CDATA section</source>
        <translation>Fehler in einem CDATA-Abschnitt</translation>
    </message>
    <message>
        <source>error parsing document type declaration</source>
        <translation>Fehler in der Dokumenttypdeklaration</translation>
    </message>
    <message>
        <source>error parsing PCDATA section</source>
        <translation>Fehler im Text (PCDATA)</translation>
    </message>
    <message>
        <source>error parsing start element tag</source>
        <translation>Fehler in einem Start-Tag</translation>
    </message>
    <message>
        <source>error parsing element attribute</source>
        <translation>Fehler in einem Attribut</translation>
    </message>
    <message>
        <source>error parsing end element tag</source>
        <translation>Fehler in einem End-Tag</translation>
    </message>
    <message>
        <source>start-end tags mismatch</source>
        <translation>Start- und End-Tag passen nicht zusammen</translation>
    </message>
</context>
<context>
    <name>Velmora</name>
    <message>
        <source>Commit to Database</source>
        <translation>In Datenbank speichern</translation>
    </message>
    <message>
        <source> Find Center</source>
        <translation> Arbeitsplatz suchen</translation>
    </message>
    <message>
        <source> List to search  </source>
        <translation> Zu durchsuchende Liste  </translation>
    </message>
    <message>
        <source>Selected Centers</source>
        <translation>Ausgewählte Arbeitsplätze</translation>
    </message>
    <message>
        <source>Non Selected Centers</source>
        <translation>Nicht ausgewählte Arbeitsplätze</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Version Number: %1.%2.%3</source>
        <translation>Versionsnummer: %1.%2.%3</translation>
    </message>
    <message>
        <source>Loading</source>
        <translation>Wird geladen</translation>
    </message>
    <message>
        <source>Will be unassigned on commit</source>
        <translation>Wird beim Speichern nicht mehr zugeordnet</translation>
    </message>
    <message>
        <source>Will be assigned on commit</source>
        <translation>Wird beim Speichern zugeordnet</translation>
    </message>
    <message>
        <source>Non Selected Active Centers</source>
        <translation>Nicht ausgewählte aktive Arbeitsplätze</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Error Occoured</source>
        <translation>Ein Fehler ist aufgetreten</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>More than %1 changes cannot be saved at once.</source>
        <translation>Mehr als %1 Änderungen können nicht auf einmal gespeichert werden.</translation>
    </message>
    <message>
        <source>Error During saving to Database</source>
        <translation>Fehler beim Speichern in der Datenbank</translation>
    </message>
    <message>
        <source>Not found</source>
        <translation>Nicht gefunden</translation>
    </message>
    <message>
        <source>Pending changes kept: %1.</source>
        <translation>Ausstehende Änderungen beibehalten: %1.</translation>
    </message>
    <message>
        <source>Already made by another operator: %1.</source>
        <translation>Bereits von einem anderen Bediener vorgenommen: %1.</translation>
    </message>
    <message>
        <source>Changed by another operator, in italics: %1.</source>
        <translation>Von einem anderen Bediener geändert, kursiv: %1.</translation>
    </message>
    <message>
        <source>No longer active: %1.</source>
        <translation>Nicht mehr aktiv: %1.</translation>
    </message>
    <message>
        <source>The reload failed; your changes are kept. %1</source>
        <translation>Das Neuladen ist fehlgeschlagen; Ihre Änderungen bleiben erhalten. %1</translation>
    </message>
    <message>
        <source>Notice</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>Changed by another operator</source>
        <translation>Von einem anderen Bediener geändert</translation>
    </message>
</context>
<context>
    <name>VelmoraInternal::CenterListModel</name>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
</context>
<context>
    <name>VelmoraInternal::CrossReference</name>
    <message>
        <source>Non Selected Active Centers (%1):</source>
        <translation>Nicht ausgewählte aktive Arbeitsplätze (%1):</translation>
    </message>
    <message>
        <source>Selected Centers (%1):</source>
        <translation>Ausgewählte Arbeitsplätze (%1):</translation>
    </message>
    <message>
        <source>Non Selected Active Centers:</source>
        <translation>Nicht ausgewählte aktive Arbeitsplätze:</translation>
    </message>
    <message>
        <source>Selected Centers:</source>
        <translation>Ausgewählte Arbeitsplätze:</translation>
    </message>
</context>
<context>
    <name>VelmoraInternal::Session</name>
    <message>
        <source>The server address &quot;%1&quot; is not a valid URL.</source>
        <translation>Die Serveradresse „%1“ ist keine gültige URL.</translation>
    </message>
    <message>
        <source>The answer from %1 is larger than %2 MB.</source>
        <translation>Die Antwort von %1 ist größer als %2 MB.</translation>
    </message>
    <message>
        <source>The answer from %1 is compressed in a way the control cannot read (Content-Encoding: %2).</source>
        <translation>Die Antwort von %1 ist auf eine Weise komprimiert, die das Steuerelement nicht lesen kann (Content-Encoding: %2).</translation>
    </message>
    <message>
        <source>The certificate of the server at %1 was not accepted: %2.</source>
        <translation>Das Zertifikat des Servers unter %1 wurde nicht angenommen: %2.</translation>
    </message>
    <message>
        <source>The server at %1 did not answer within %2 seconds.</source>
        <translation>Der Server unter %1 hat nicht innerhalb von %2 Sekunden geantwortet.</translation>
    </message>
    <message>
        <source>The server at %1 could not be reached: %2</source>
        <translation>Der Server unter %1 ist nicht erreichbar: %2</translation>
    </message>
    <message>
        <source>The answer from %1 broke off: %2</source>
        <translation>Die Antwort von %1 brach ab: %2</translation>
    </message>
    <message>
        <source>The server at %1 answered HTTP %2%3.</source>
        <translation>Der Server unter %1 antwortete mit HTTP %2%3.</translation>
    </message>
    <message>
        <source>The answer from %1 did not end within %2 seconds.</source>
        <translation>Die Antwort von %1 war nicht innerhalb von %2 Sekunden vollständig.</translation>
    </message>
    <message>
        <source>The connection to the server at %1 broke off: %2</source>
        <translation>Die Verbindung zum Server unter %1 brach ab: %2</translation>
    </message>
    <message>
        <source>The changes may or may not have been saved. They are kept: saving them again is safe, or reload to see what the server holds.</source>
        <translation>Die Änderungen wurden möglicherweise gespeichert, möglicherweise auch nicht. Sie bleiben erhalten: Erneut zu speichern ist unbedenklich, oder laden Sie neu, um den Stand des Servers zu sehen.</translation>
    </message>
    <message>
        <source>Nothing was saved.</source>
        <translation>Es wurde nichts gespeichert.</translation>
    </message>
</context>
</TS>
