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
<context>
    <name>Shadowing</name>
    <message>
        <source>Nothing was heard. Speak the sentence back when asked to, close to the microphone.</source>
        <translation>Nichts gehört. Sprich den Satz nach, sobald du dazu aufgefordert wirst, nah am Mikrofon.</translation>
    </message>
    <message>
        <source>That sounded like another sentence. Listen to the original once more.</source>
        <translation>Das klang nach einem anderen Satz. Hör dir das Original noch einmal an.</translation>
    </message>
    <message>
        <source>Very good: close to the original.</source>
        <translation>Sehr gut: nah am Original.</translation>
    </message>
    <message>
        <source>A little slow: keep to the original&apos;s pace.</source>
        <translation>Etwas zu langsam: halte das Tempo des Originals.</translation>
    </message>
    <message>
        <source>A little fast: keep to the original&apos;s pace.</source>
        <translation>Etwas zu schnell: halte das Tempo des Originals.</translation>
    </message>
    <message>
        <source>Keep to the original&apos;s pace, without stopping in between.</source>
        <translation>Halte das Tempo des Originals, ohne zwischendurch anzuhalten.</translation>
    </message>
    <message>
        <source>Mind the pauses and the stressed syllables.</source>
        <translation>Achte auf die Pausen und die betonten Silben.</translation>
    </message>
    <message>
        <source>Mind the melody: where the voice rises and falls.</source>
        <translation>Achte auf die Satzmelodie: wo die Stimme steigt und fällt.</translation>
    </message>
    <message>
        <source>No microphone was found. Connect one, or choose it in the preferences.</source>
        <translation>Kein Mikrofon gefunden. Schließe eines an oder wähle es in den Einstellungen.</translation>
    </message>
    <message>
        <source>The sound server cannot be reached.</source>
        <translation>Der Tondienst (PulseAudio) ist nicht erreichbar.</translation>
    </message>
    <message>
        <source>Access to the microphone was refused.</source>
        <translation>Der Zugriff auf das Mikrofon wurde verweigert.</translation>
    </message>
    <message>
        <source>The microphone cannot be opened (%1).</source>
        <translation>Das Mikrofon lässt sich nicht öffnen (%1).</translation>
    </message>
    <message>
        <source>The recording broke off (%1).</source>
        <translation>Die Aufnahme ist abgebrochen (%1).</translation>
    </message>
    <message>
        <source>The sound cannot be played (%1).</source>
        <translation>Der Ton lässt sich nicht abspielen (%1).</translation>
    </message>
    <message>
        <source>The sentence&apos;s sound cannot be read (%1).</source>
        <translation>Der Ton des Satzes lässt sich nicht lesen (%1).</translation>
    </message>
    <message>
        <source>The media has no sound to compare with.</source>
        <translation>Das Medium hat keinen Ton zum Vergleichen.</translation>
    </message>
    <message>
        <source>The sentence&apos;s sound cannot be decoded (%1).</source>
        <translation>Der Ton des Satzes lässt sich nicht dekodieren (%1).</translation>
    </message>
    <message>
        <source>cancelled</source>
        <translation>abgebrochen</translation>
    </message>
    <message>
        <source>The sentence&apos;s sound cannot be converted.</source>
        <translation>Der Ton des Satzes lässt sich nicht umwandeln.</translation>
    </message>
    <message>
        <source>The sentence has no sound at this place of the media.</source>
        <translation>An dieser Stelle des Mediums hat der Satz keinen Ton.</translation>
    </message>
    <message>
        <source>The recording cannot be saved in %1.</source>
        <translation>Die Aufnahme lässt sich nicht in %1 speichern.</translation>
    </message>
    <message>
        <source>The recording %1 is gone.</source>
        <translation>Die Aufnahme %1 ist nicht mehr da.</translation>
    </message>
    <message>
        <source>The recording %1 cannot be read.</source>
        <translation>Die Aufnahme %1 lässt sich nicht lesen.</translation>
    </message>
    <message>
        <source>The sentence has no speech to compare with.</source>
        <translation>In diesem Satz ist keine Sprache zum Vergleichen zu hören.</translation>
    </message>
    <message>
        <source>The original cannot be played.</source>
        <translation>Das Original lässt sich nicht abspielen.</translation>
    </message>
    <message>
        <source>This attempt could not be kept.</source>
        <translation>Dieser Versuch konnte nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>Open an article or a media file to practise first.</source>
        <translation>Öffne zuerst einen Artikel oder eine Mediendatei zum Üben.</translation>
    </message>
    <message>
        <source>Shadowing cannot work: a part of the program is missing. Installing the program again should help.</source>
        <translation>Nachsprechen geht gerade nicht: Ein Teil des Programms fehlt. Eine neue Installation sollte helfen.</translation>
    </message>
    <message>
        <source>The sentence cannot be played.</source>
        <translation>Der Satz lässt sich nicht abspielen.</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Abgebrochen.</translation>
    </message>
    <message>
        <source>A part of the program is missing.</source>
        <translation>Ein Teil des Programms fehlt.</translation>
    </message>
</context>
</TS>
