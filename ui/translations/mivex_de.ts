<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>mivex</name>
    <message>
        <source>This file does not exist</source>
        <translation>Diese Datei existiert nicht</translation>
    </message>
    <message>
        <source>This file is not the correct type</source>
        <translation>Diese Datei hat nicht den richtigen Typ</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Save CAB file</source>
        <translation>CAB-Datei speichern</translation>
    </message>
    <message>
        <source>CAB Files (*.cab)</source>
        <translation>CAB-Dateien (*.cab)</translation>
    </message>
    <message>
        <source> If problems persist, please visit our support site at %1</source>
        <translation> Bleiben die Probleme bestehen, besuchen Sie bitte unsere Support-Seite unter %1</translation>
    </message>
    <message>
        <source>The archive file %1 was created successfully.</source>
        <translation>Die Archivdatei %1 wurde erfolgreich erstellt.</translation>
    </message>
    <message>
        <source>An error occurred while attempting to create the archive. </source>
        <translation>Beim Erstellen des Archivs ist ein Fehler aufgetreten. </translation>
    </message>
    <message>
        <source>This is most likely caused by an invalid installation. Please reinstall your copy of the software.</source>
        <translation>Die Ursache ist höchstwahrscheinlich eine fehlerhafte Installation. Bitte installieren Sie die Software neu.</translation>
    </message>
    <message>
        <source>The line is not a queue entry (&quot;C-N --&gt; source --&gt; destination folder&quot;).</source>
        <translation>Die Zeile ist kein Eintrag der Warteschlange („C-N --&gt; Quelle --&gt; Zielordner“).</translation>
    </message>
    <message>
        <source>Success.</source>
        <translation>Erfolg.</translation>
    </message>
    <message>
        <source>The source does not exist.</source>
        <translation>Die Quelle existiert nicht.</translation>
    </message>
    <message>
        <source>A folder on the way to the destination is missing or is not a folder.</source>
        <translation>Ein Ordner auf dem Weg zum Ziel fehlt oder ist kein Ordner.</translation>
    </message>
    <message>
        <source>Too many files are open.</source>
        <translation>Zu viele Dateien sind geöffnet.</translation>
    </message>
    <message>
        <source>Access denied: a file or folder could not be read or written.</source>
        <translation>Zugriff verweigert: Eine Datei oder ein Ordner konnte nicht gelesen oder geschrieben werden.</translation>
    </message>
    <message>
        <source>Not enough memory.</source>
        <translation>Nicht genug Arbeitsspeicher.</translation>
    </message>
    <message>
        <source>The destination is on a read-only filesystem.</source>
        <translation>Das Ziel liegt auf einem schreibgeschützten Dateisystem.</translation>
    </message>
    <message>
        <source>An unexpected system failure.</source>
        <translation>Ein unerwarteter Systemfehler.</translation>
    </message>
    <message>
        <source>The destination cannot hold symbolic links (FAT and exFAT hold none): a link was not copied.</source>
        <translation>Das Ziel kann keine symbolischen Verknüpfungen aufnehmen (FAT und exFAT kennen keine): Eine Verknüpfung wurde nicht kopiert.</translation>
    </message>
    <message>
        <source>A file is in use, or changed while it was being copied.</source>
        <translation>Eine Datei wird verwendet oder hat sich beim Kopieren geändert.</translation>
    </message>
    <message>
        <source>A file of the chosen name appeared at the destination, or another item of the same operation took the name (a destination that ignores case).</source>
        <translation>Am Ziel ist eine Datei des gewählten Namens aufgetaucht, oder ein anderes Element desselben Vorgangs hat den Namen belegt (ein Ziel ohne Unterscheidung von Groß- und Kleinschreibung).</translation>
    </message>
    <message>
        <source>The system refused a request as invalid.</source>
        <translation>Das System hat eine Anforderung als ungültig abgelehnt.</translation>
    </message>
    <message>
        <source>The destination is the item&apos;s own folder (only a copy that keeps both can do that), or the very file that the item is or links to.</source>
        <translation>Das Ziel ist der eigene Ordner des Elements (das kann nur eine Kopie, die beide behält) oder genau die Datei, die das Element ist oder auf die es verweist.</translation>
    </message>
    <message>
        <source>The destination cannot hold a name: FAT, exFAT and NTFS (USB sticks, memory cards) take no : ? * &quot; &lt; &gt; | \ or control character in a name, nor a name ending in a dot or a blank. Rename the item.</source>
        <translation>Das Ziel kann einen Namen nicht aufnehmen: FAT, exFAT und NTFS (USB-Sticks, Speicherkarten) erlauben kein : ? * &quot; &lt; &gt; | \ und kein Steuerzeichen in einem Namen und keinen Namen, der auf einen Punkt oder ein Leerzeichen endet. Benennen Sie das Element um.</translation>
    </message>
    <message>
        <source>A folder cannot be copied or moved into itself or one of its subfolders.</source>
        <translation>Ein Ordner kann nicht in sich selbst oder einen seiner Unterordner kopiert oder verschoben werden.</translation>
    </message>
    <message>
        <source>A moved folder could not be removed because something new appeared in it.</source>
        <translation>Ein verschobener Ordner konnte nicht entfernt werden, weil darin etwas Neues aufgetaucht ist.</translation>
    </message>
    <message>
        <source>A file arrives where a folder of that name stands, or a folder where a file stands.</source>
        <translation>Eine Datei kommt dort an, wo ein gleichnamiger Ordner steht, oder ein Ordner dort, wo eine Datei steht.</translation>
    </message>
    <message>
        <source>A name or path is too long.</source>
        <translation>Ein Name oder Pfad ist zu lang.</translation>
    </message>
    <message>
        <source>A file is too large for the destination: larger than its filesystem holds (FAT32: 4 GiB), or than the file size limit of the run (ulimit -f).</source>
        <translation>Eine Datei ist zu groß für das Ziel: größer, als sein Dateisystem aufnimmt (FAT32: 4 GiB), oder als die Dateigrößengrenze des Laufs (ulimit -f).</translation>
    </message>
    <message>
        <source>An input/output error on the disk.</source>
        <translation>Ein Ein-/Ausgabefehler auf dem Datenträger.</translation>
    </message>
    <message>
        <source>A FIFO, socket or device file cannot be copied or moved.</source>
        <translation>Ein FIFO, Socket oder eine Gerätedatei kann nicht kopiert oder verschoben werden.</translation>
    </message>
    <message>
        <source>Not enough free space on the destination drive (or over quota).</source>
        <translation>Nicht genug freier Platz auf dem Ziellaufwerk (oder Kontingent überschritten).</translation>
    </message>
</context>
<context>
    <name>mivex::ui::frmAbout</name>
    <message>
        <source>Mivex sets up file copy and move operations all at once and then carries them out as one batch, instead of one by one. Each operation takes a single file or a whole folder as its source and sends it to a destination folder of its own; a queue can be saved as a list and run again, also unattended.</source>
        <translation>Mivex stellt Kopier- und Verschiebevorgänge für Dateien auf einmal zusammen und führt sie dann gemeinsam aus, statt einzeln nacheinander. Jeder Vorgang nimmt eine einzelne Datei oder einen ganzen Ordner als Quelle und schickt sie in einen eigenen Zielordner; eine Warteschlange lässt sich als Liste speichern und erneut ausführen, auch unbeaufsichtigt.</translation>
    </message>
    <message>
        <source>Copyright © 2026 the Mivex developers. Mivex is provided &quot;as is&quot;, without warranty of any kind; the authors are not liable for any loss of data or other damage arising from its use. Keep a backup of anything you move.</source>
        <translation>Copyright © 2026 die Mivex-Entwickler. Mivex wird „wie besehen“ bereitgestellt, ohne jede Gewährleistung; die Autoren haften nicht für Datenverlust oder andere Schäden durch seine Verwendung. Sichern Sie alles, was Sie verschieben.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Mivex version %1.%2.%3</source>
        <translation>Mivex Version %1.%2.%3</translation>
    </message>
</context>
<context>
    <name>mivex::ui::frmStatus</name>
    <message>
        <source>Mivex - Archiving Files</source>
        <translation>Mivex - Dateien archivieren</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
</TS>
