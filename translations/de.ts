<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>DeckExport</name>
    <message>
        <source>The export could not be put in place.</source>
        <translation>Der Export konnte nicht an seinen Platz gelegt werden.</translation>
    </message>
    <message>
        <source>The export could not be written (%1).</source>
        <translation>Der Export konnte nicht geschrieben werden (%1).</translation>
    </message>
    <message>
        <source>The export could not be written.</source>
        <translation>Der Export konnte nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>The export could not be written to this folder.</source>
        <translation>In diesen Ordner kann nicht exportiert werden.</translation>
    </message>
    <message>
        <source>The export could not be written; is the disk full?</source>
        <translation>Der Export konnte nicht geschrieben werden; ist der Datenträger voll?</translation>
    </message>
    <message>
        <source>The export was cancelled.</source>
        <translation>Der Export wurde abgebrochen.</translation>
    </message>
</context>
<context>
    <name>MediaFiles</name>
    <message>
        <source>This file is not in the media library.</source>
        <translation>Diese Datei ist nicht in „Meine Dateien“.</translation>
    </message>
    <message>
        <source>Another file is being read; try again when it is done.</source>
        <translation>Gerade wird eine andere Datei eingelesen; versuche es gleich noch einmal.</translation>
    </message>
    <message>
        <source>Your own media files cannot be read: a part of the program is missing. Installing the program again should help.</source>
        <translation>Eigene Mediendateien können nicht gelesen werden: Ein Teil des Programms fehlt. Installiere das Programm bitte neu.</translation>
    </message>
    <message>
        <source>Your own media files can be opened from the main page only.</source>
        <translation>Eigene Mediendateien lassen sich nur von der Startseite aus öffnen.</translation>
    </message>
</context>
<context>
    <name>Ffmpeg</name>
    <message>
        <source>its data is damaged or of an unknown kind</source>
        <translation>ihre Daten sind beschädigt oder von unbekannter Art</translation>
    </message>
    <message>
        <source>it ends too early</source>
        <translation>sie endet zu früh</translation>
    </message>
    <message>
        <source>it does not exist</source>
        <translation>sie existiert nicht</translation>
    </message>
    <message>
        <source>there is no permission to read it</source>
        <translation>es fehlt die Berechtigung, sie zu lesen</translation>
    </message>
    <message>
        <source>the disk could not read it</source>
        <translation>der Datenträger konnte sie nicht lesen</translation>
    </message>
    <message>
        <source>there is not enough memory</source>
        <translation>der Speicher reicht nicht aus</translation>
    </message>
    <message>
        <source>its format is not supported</source>
        <translation>ihr Format wird nicht unterstützt</translation>
    </message>
    <message>
        <source>it has nothing that can be played</source>
        <translation>sie enthält nichts Abspielbares</translation>
    </message>
    <message>
        <source>an unexpected error (FFmpeg %1)</source>
        <translation>ein unerwarteter Fehler (FFmpeg %1)</translation>
    </message>
</context>
<context>
    <name>MediaImporter</name>
    <message numerus="yes">
        <source>%n line(s) of karaoke, signs or drawings in %1 left out.</source>
        <translation>
            <numerusform>%n Zeile mit Karaoke, Einblendung oder Zeichnung in %1 wurde ausgelassen.</numerusform>
            <numerusform>%n Zeilen mit Karaoke, Einblendungen oder Zeichnungen in %1 wurden ausgelassen.</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 was left out: %2.</source>
        <translation>%1 wurde nicht verwendet: %2.</translation>
    </message>
    <message>
        <source>The subtitles of "%1" all start after the end of its media.</source>
        <translation>Die Untertitel von „%1“ beginnen alle erst nach dem Ende der Datei.</translation>
    </message>
    <message>
        <source>%1 subtitles after the end of the media were left out.</source>
        <translation>%1 Untertitel nach dem Ende der Datei wurden weggelassen.</translation>
    </message>
    <message>
        <source>"%1" has %2 sentences; at most %3 can be practised in one file.</source>
        <translation>„%1“ hat %2 Sätze; in einer Datei lassen sich höchstens %3 üben.</translation>
    </message>
    <message>
        <source>No speech was heard; the whole file is one section.</source>
        <translation>Es war keine Sprache zu hören; die ganze Datei ist ein Abschnitt.</translation>
    </message>
    <message>
        <source>Not enough memory to open "%1".</source>
        <translation>Zu wenig Speicher, um „%1“ zu öffnen.</translation>
    </message>
    <message>
        <source>The file "%1" does not exist.</source>
        <translation>Die Datei „%1“ gibt es nicht.</translation>
    </message>
    <message>
        <source>The import of "%1" was cancelled.</source>
        <translation>Das Einlesen von „%1“ wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The sound of "%1" cannot be read: %2.</source>
        <translation>Der Ton von „%1“ kann nicht gelesen werden: %2.</translation>
    </message>
    <message>
        <source>"%1" cannot be read: %2</source>
        <translation>„%1“ kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>"%1" contains no audio or video.</source>
        <translation>„%1“ enthält weder Ton noch Bild.</translation>
    </message>
    <message>
        <source>"%1" has neither subtitles nor sound to find sentences in.</source>
        <translation>„%1“ hat weder Untertitel noch Ton, in dem sich Sätze finden ließen.</translation>
    </message>
    <message>
        <source>"%1" is empty.</source>
        <translation>„%1“ ist leer.</translation>
    </message>
    <message>
        <source>"%1" is not a file.</source>
        <translation>„%1“ ist keine Datei.</translation>
    </message>
    <message>
        <source>"%1" is not a media file that can be practised. Audio: %2; video: %3.</source>
        <translation>„%1“ ist keine Mediendatei, mit der du üben kannst. Ton: %2; Video: %3.</translation>
    </message>
    <message>
        <source>"%1" is not an audio or video file that can be read (%2).</source>
        <translation>„%1“ ist keine lesbare Audio- oder Videodatei (%2).</translation>
    </message>
    <message>
        <source>cancelled</source>
        <translation>abgebrochen</translation>
    </message>
    <message>
        <source>it has no readable cues</source>
        <translation>sie enthält keine lesbaren Untertitel</translation>
    </message>
    <message>
        <source>it has no sound</source>
        <translation>sie enthält keinen Ton</translation>
    </message>
    <message>
        <source>larger than a subtitle file can be</source>
        <translation>zu groß für eine Untertiteldatei</translation>
    </message>
    <message>
        <source>no decoder for %1</source>
        <translation>kein Decoder für %1</translation>
    </message>
    <message>
        <source>no decoder for its sound</source>
        <translation>kein Decoder für ihren Ton</translation>
    </message>
    <message>
        <source>no subtitles in it</source>
        <translation>keine Untertitel darin</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>die Datei ist leer</translation>
    </message>
</context>
<context>
    <name>MediaLibrary</name>
    <message>
        <source>The media library cannot be created in %1.</source>
        <translation>Die Liste deiner Dateien kann in %1 nicht angelegt werden.</translation>
    </message>
    <message>
        <source>The media library cannot be opened.</source>
        <translation>Die Liste deiner Dateien kann nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>The media library cannot be read; it was left as it is.</source>
        <translation>Die Liste deiner Dateien kann nicht gelesen werden; sie bleibt, wie sie ist.</translation>
    </message>
    <message>
        <source>The media library cannot be set up.</source>
        <translation>Die Liste deiner Dateien kann nicht eingerichtet werden.</translation>
    </message>
    <message>
        <source>The media library is damaged; it was left as it is.</source>
        <translation>Die Liste deiner Dateien ist beschädigt; sie bleibt, wie sie ist.</translation>
    </message>
    <message>
        <source>The media library needs the SQLite driver of Qt (libqt5sql5-sqlite).</source>
        <translation>Die Liste deiner Dateien braucht den SQLite-Treiber von Qt (libqt5sql5-sqlite).</translation>
    </message>
    <message>
        <source>The media library was written by a newer version of this program; it was left as it is.</source>
        <translation>Die Liste deiner Dateien stammt von einer neueren Version dieses Programms; sie bleibt, wie sie ist.</translation>
    </message>
    <message>
        <source>The file could not be added to your files: %1</source>
        <translation>Die Datei konnte nicht in „Meine Dateien“ aufgenommen werden: %1</translation>
    </message>
    <message>
        <source>The file could not be added to your files: the media library cannot store it (%1).</source>
        <translation>Die Datei konnte nicht in „Meine Dateien“ aufgenommen werden: die Liste kann sie nicht speichern (%1).</translation>
    </message>
</context>
<context>
    <name>SpeechSync</name>
    <message>
        <source>There is no such sentence.</source>
        <translation>Diesen Satz gibt es nicht.</translation>
    </message>
    <message>
        <source>The times lie outside the media.</source>
        <translation>Die Zeiten liegen außerhalb der Datei.</translation>
    </message>
    <message>
        <source>A sentence must start before it ends.</source>
        <translation>Ein Satz muss beginnen, bevor er endet.</translation>
    </message>
    <message>
        <source>The sentence would start inside the one before it.</source>
        <translation>Der Satz würde im Satz davor beginnen.</translation>
    </message>
    <message>
        <source>The sentence would end inside the one after it.</source>
        <translation>Der Satz würde im Satz danach enden.</translation>
    </message>
    <message>
        <source>"%1" is no way to set the times.</source>
        <translation>„%1“ ist keine Art, die Zeiten zu setzen.</translation>
    </message>
    <message>
        <source>This file is not in the media library.</source>
        <translation>Diese Datei ist nicht in „Meine Dateien“.</translation>
    </message>
    <message>
        <source>The new times cannot be kept in the media library.</source>
        <translation>Die neuen Zeiten können nicht in „Meine Dateien“ gespeichert werden.</translation>
    </message>
</context>
</TS>
