<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
  <context>
    <name>mivex</name>
    <message>
      <source>%1 bytes</source>
      <translation>%1 Bytes</translation>
    </message>
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
      <source>The line is not a queue entry ("C-N --&gt; source --&gt; destination folder").</source>
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
      <source>The destination is the item's own folder (only a copy that keeps both can do that), or the very file that the item is or links to.</source>
      <translation>Das Ziel ist der eigene Ordner des Elements (das kann nur eine Kopie, die beide behält) oder genau die Datei, die das Element ist oder auf die es verweist.</translation>
    </message>
    <message>
      <source>The destination cannot hold a name: FAT, exFAT and NTFS (USB sticks, memory cards) take no : ? * " &lt; &gt; | \ or control character in a name, nor a name ending in a dot or a blank. Rename the item.</source>
      <translation>Das Ziel kann einen Namen nicht aufnehmen: FAT, exFAT und NTFS (USB-Sticks, Speicherkarten) erlauben kein : ? * " &lt; &gt; | \ und kein Steuerzeichen in einem Namen und keinen Namen, der auf einen Punkt oder ein Leerzeichen endet. Benennen Sie das Element um.</translation>
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
    <message>
      <source>%1 is neither a file nor a folder</source>
      <translation>%1 ist weder eine Datei noch ein Ordner</translation>
    </message>
    <message>
      <source>%1 does not exist</source>
      <translation>%1 existiert nicht</translation>
    </message>
    <message numerus="yes">
      <source>... and %n more (see Show Details)</source>
      <translation>
        <numerusform>... und %n weiterer (siehe „Details einblenden“)</numerusform>
        <numerusform>... und %n weitere (siehe „Details einblenden“)</numerusform>
      </translation>
    </message>
    <message>
      <source>line %1: %2</source>
      <translation>Zeile %1: %2</translation>
    </message>
    <message>
      <source>%1: the entries would write %2 there, %3 is free</source>
      <translation>%1: Die Einträge würden dort %2 schreiben, frei sind %3</translation>
    </message>
    <message>
      <source>Nothing has been written yet, but some entries will fail as the queue stands.</source>
      <translation>Noch wurde nichts geschrieben, aber einige Einträge werden so, wie die Warteschlange steht, fehlschlagen.</translation>
    </message>
    <message>
      <source>Sources that do not exist:</source>
      <translation>Quellen, die nicht existieren:</translation>
    </message>
    <message>
      <source>Destinations without enough free space:</source>
      <translation>Ziele ohne genug freien Platz:</translation>
    </message>
    <message>
      <source>Continue to run the queue anyway, or Cancel to change it first.</source>
      <translation>Wählen Sie „Fortfahren“, um die Warteschlange trotzdem auszuführen, oder „Abbrechen“, um sie vorher zu ändern.</translation>
    </message>
    <message>
      <source>Continue</source>
      <translation>Fortfahren</translation>
    </message>
    <message>
      <source>Cancel</source>
      <translation>Abbrechen</translation>
    </message>
    <message>
      <source>Skipped: the user skipped the entry during the run, which went on with the next one.</source>
      <translation>Übersprungen: Der Benutzer hat den Eintrag während des Laufs übersprungen; der Lauf ging mit dem nächsten weiter.</translation>
    </message>
    <message>
      <source>The copy differs from its source after writing: the destination's disk or its connection may be failing.</source>
      <translation>Die Kopie weicht nach dem Schreiben von ihrer Quelle ab: Der Datenträger des Ziels oder seine Verbindung ist womöglich fehlerhaft.</translation>
    </message>
    <message>
      <source>; the file: %1</source>
      <translation>; die Datei: %1</translation>
    </message>
    <message>
      <source>error code %1</source>
      <translation>Fehlercode %1</translation>
    </message>
    <message>
      <source>line %1: </source>
      <translation>Zeile %1: </translation>
    </message>
    <message>
      <source> (code %1)</source>
      <translation> (Code %1)</translation>
    </message>
    <message>
      <source>The run was stopped; the rest of the queue was not carried out.</source>
      <translation>Der Lauf wurde angehalten; der Rest der Warteschlange wurde nicht ausgeführt.</translation>
    </message>
    <message>
      <source>This run has no log.</source>
      <translation>Dieser Lauf hat kein Protokoll.</translation>
    </message>
    <message>
      <source>Run log: %1</source>
      <translation>Laufprotokoll: %1</translation>
    </message>
  </context>
  <context>
    <name>mivex::ui::RunNotifier</name>
    <message>
      <source>Show Mivex</source>
      <translation>Mivex zeigen</translation>
    </message>
    <message>
      <source>Mivex: run ended</source>
      <translation>Mivex: Lauf beendet</translation>
    </message>
  </context>
  <context>
    <name>mivex::ui::frmAbout</name>
    <message>
      <source>Mivex sets up file copy and move operations all at once and then carries them out as one batch, instead of one by one. Each operation takes a single file or a whole folder as its source and sends it to a destination folder of its own; a queue can be saved as a list and run again, also unattended.</source>
      <translation>Mivex stellt Kopier- und Verschiebevorgänge für Dateien auf einmal zusammen und führt sie dann gemeinsam aus, statt einzeln nacheinander. Jeder Vorgang nimmt eine einzelne Datei oder einen ganzen Ordner als Quelle und schickt sie in einen eigenen Zielordner; eine Warteschlange lässt sich als Liste speichern und erneut ausführen, auch unbeaufsichtigt.</translation>
    </message>
    <message>
      <source>Copyright © 2026 the Mivex developers. Mivex is provided "as is", without warranty of any kind; the authors are not liable for any loss of data or other damage arising from its use. Keep a backup of anything you move.</source>
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
    <name>mivex::ui::frmHelp</name>
    <message>
      <source>Mivex Help</source>
      <translation>Mivex-Hilfe</translation>
    </message>
    <message>
      <source>&lt;h2&gt;Mivex Help&lt;/h2&gt;&lt;p&gt;The help file could not be opened:&lt;/p&gt;&lt;p&gt;&lt;tt&gt;%1&lt;/tt&gt;&lt;/p&gt;&lt;p&gt;It belongs in the program folder, beside the program itself. Installing Mivex again puts it back.&lt;/p&gt;</source>
      <translation>&lt;h2&gt;Mivex-Hilfe&lt;/h2&gt;&lt;p&gt;Die Hilfedatei konnte nicht geöffnet werden:&lt;/p&gt;&lt;p&gt;&lt;tt&gt;%1&lt;/tt&gt;&lt;/p&gt;&lt;p&gt;Sie gehört in den Programmordner, neben das Programm selbst. Eine erneute Installation von Mivex stellt sie wieder her.&lt;/p&gt;</translation>
    </message>
  </context>
  <context>
    <name>mivex::ui::frmMain</name>
    <message>
      <source>line %1: %2: the run was stopped during this entry</source>
      <translation>Zeile %1: %2: Der Lauf wurde während dieses Eintrags angehalten</translation>
    </message>
    <message>
      <source>OK</source>
      <translation>OK</translation>
    </message>
    <message>
      <source>Source</source>
      <translation>Quelle</translation>
    </message>
    <message>
      <source>Destination</source>
      <translation>Ziel</translation>
    </message>
    <message>
      <source>File Transfer Queue</source>
      <translation>Übertragungswarteschlange</translation>
    </message>
    <message>
      <source>Add Selected Folder</source>
      <translation>Gewählten Ordner hinzufügen</translation>
    </message>
    <message>
      <source>Remove Selected Entry</source>
      <translation>Eintrag entfernen</translation>
    </message>
    <message>
      <source>Clear List</source>
      <translation>Liste leeren</translation>
    </message>
    <message>
      <source>Save File Copy List</source>
      <translation>Kopierliste speichern</translation>
    </message>
    <message>
      <source>Load File Copy List</source>
      <translation>Kopierliste laden</translation>
    </message>
    <message>
      <source>Process Files!</source>
      <translation>Dateien verarbeiten!</translation>
    </message>
    <message>
      <source>Add Selected File</source>
      <translation>Gewählte Datei hinzufügen</translation>
    </message>
    <message>
      <source>Make New Folder Here</source>
      <translation>Neuen Ordner hier anlegen</translation>
    </message>
    <message>
      <source>Files in current folder</source>
      <translation>Dateien im aktuellen Ordner</translation>
    </message>
    <message>
      <source>Files</source>
      <translation>Dateien</translation>
    </message>
    <message>
      <source>Make Archive of Source Files</source>
      <translation>Archiv der Quelldateien erstellen</translation>
    </message>
    <message>
      <source>Source drive</source>
      <translation>Quelllaufwerk</translation>
    </message>
    <message>
      <source>Source folders</source>
      <translation>Quellordner</translation>
    </message>
    <message>
      <source>Destination drive</source>
      <translation>Ziellaufwerk</translation>
    </message>
    <message>
      <source>Destination folders</source>
      <translation>Zielordner</translation>
    </message>
    <message>
      <source>File</source>
      <translation>Datei</translation>
    </message>
    <message>
      <source>E&amp;xit</source>
      <translation>&amp;Beenden</translation>
    </message>
    <message>
      <source>Options</source>
      <translation>Optionen</translation>
    </message>
    <message>
      <source>Always On Top</source>
      <translation>Immer im Vordergrund</translation>
    </message>
    <message>
      <source>Default Options</source>
      <translation>Standardoptionen</translation>
    </message>
    <message>
      <source>Help</source>
      <translation>Hilfe</translation>
    </message>
    <message>
      <source>Mivex Help</source>
      <translation>Mivex-Hilfe</translation>
    </message>
    <message>
      <source>About</source>
      <translation>Über</translation>
    </message>
    <message>
      <source>Mivex Version %1.%2.%3</source>
      <translation>Mivex Version %1.%2.%3</translation>
    </message>
    <message>
      <source>The drive you selected cannot be accessed.</source>
      <translation>Auf das gewählte Laufwerk kann nicht zugegriffen werden.</translation>
    </message>
    <message>
      <source>Enter the complete path to the new folder</source>
      <translation>Geben Sie den vollständigen Pfad des neuen Ordners ein</translation>
    </message>
    <message>
      <source>New Folder</source>
      <translation>Neuer Ordner</translation>
    </message>
    <message>
      <source>The path you attempted to create could not be created. You either entered an invalid path or the path you entered already exists.</source>
      <translation>Der Pfad, den Sie anlegen wollten, konnte nicht angelegt werden. Entweder ist der eingegebene Pfad ungültig, oder er existiert bereits.</translation>
    </message>
    <message>
      <source>Source and destination are the same!</source>
      <translation>Quelle und Ziel sind gleich!</translation>
    </message>
    <message>
      <source>This file operation cannot be performed. The operation already exists in your queue or the operation references as source file that would have been previously moved in the batch</source>
      <translation>Dieser Dateivorgang kann nicht ausgeführt werden. Der Vorgang ist bereits in Ihrer Warteschlange, oder er nennt als Quelle eine Datei, die vorher in diesem Stapel verschoben würde</translation>
    </message>
    <message>
      <source>The queue is full: it holds %1 entries, the most it can hold. Nothing more can be added.</source>
      <translation>Die Warteschlange ist voll: Sie enthält %1 Einträge, so viele sie fassen kann. Es kann nichts mehr hinzugefügt werden.</translation>
    </message>
    <message>
      <source>Ignoring</source>
      <translation>Wird übergangen</translation>
    </message>
    <message>
      <source>"%1" cannot be queued: a path in the queue must not contain " --&gt; " or a line break, must not end in " --&gt;", and must be valid UTF-8.</source>
      <translation>„%1“ kann nicht in die Warteschlange: Ein Pfad darin darf weder " --&gt; " noch einen Zeilenumbruch enthalten, nicht auf " --&gt;" enden und muss gültiges UTF-8 sein.</translation>
    </message>
    <message>
      <source>"%1" is not a folder: an operation's destination must be a folder.</source>
      <translation>„%1“ ist kein Ordner: Das Ziel einer Operation muss ein Ordner sein.</translation>
    </message>
    <message>
      <source>Please select a file. To add all files, please use the Add This Folder button</source>
      <translation>Bitte wählen Sie eine Datei. Um alle Dateien hinzuzufügen, verwenden Sie bitte die Schaltfläche „Ordner hinzufügen“</translation>
    </message>
    <message>
      <source>There's no list to save!</source>
      <translation>Es gibt keine Liste zum Speichern!</translation>
    </message>
    <message>
      <source>Save File Queue List</source>
      <translation>Warteschlangenliste speichern</translation>
    </message>
    <message>
      <source>FLQ File (*.flq)</source>
      <translation>FLQ-Datei (*.flq)</translation>
    </message>
    <message>
      <source>This file does not appear to be a valid Mivex data file</source>
      <translation>Diese Datei scheint keine gültige Mivex-Datendatei zu sein</translation>
    </message>
    <message>
      <source>The list %1 could not be read.</source>
      <translation>Die Liste %1 konnte nicht gelesen werden.</translation>
    </message>
    <message>
      <source>The list %1 holds more than %2 entries, more than the queue can hold. Nothing was loaded.</source>
      <translation>Die Liste %1 enthält mehr als %2 Einträge, mehr als die Warteschlange fassen kann. Es wurde nichts geladen.</translation>
    </message>
    <message>
      <source>Show Run Log</source>
      <translation>Laufprotokoll anzeigen</translation>
    </message>
    <message>
      <source>This session keeps no run log: no folder could be had for it.</source>
      <translation>Diese Sitzung führt kein Laufprotokoll: Es war kein Ordner dafür zu bekommen.</translation>
    </message>
    <message>
      <source>There is no run log for today yet. Run logs are kept in %1, one a day.</source>
      <translation>Für heute gibt es noch kein Laufprotokoll. Laufprotokolle liegen in %1, eines pro Tag.</translation>
    </message>
    <message>
      <source>Today's run log is %1.</source>
      <translation>Das heutige Laufprotokoll ist %1.</translation>
    </message>
    <message>
      <source>line %1 was left unfinished in %2 (%3 files, %4 complete)
</source>
      <translation>Zeile %1 blieb unvollendet in %2 (%3 Dateien, %4 vollständig)
</translation>
    </message>
    <message>
      <source>Files left as they were, their copy being equal already: %1</source>
      <translation>Unverändert gelassene Dateien, da ihre Kopie schon gleich war: %1</translation>
    </message>
    <message>
      <source>1 entry done</source>
      <translation>1 Eintrag erledigt</translation>
    </message>
    <message>
      <source>%1 entries done</source>
      <translation>%1 Einträge erledigt</translation>
    </message>
    <message>
      <source>, %1 failed</source>
      <translation>, %1 fehlgeschlagen</translation>
    </message>
    <message>
      <source>, the run was stopped</source>
      <translation>, der Lauf wurde angehalten</translation>
    </message>
    <message>
      <source>moved</source>
      <translation>verschoben</translation>
    </message>
    <message>
      <source>copied</source>
      <translation>kopiert</translation>
    </message>
    <message>
      <source>skipped</source>
      <translation>übersprungen</translation>
    </message>
    <message>
      <source>failed: %1</source>
      <translation>fehlgeschlagen: %1</translation>
    </message>
    <message>
      <source>stopped: the run was stopped during this entry</source>
      <translation>angehalten: Der Lauf wurde während dieses Eintrags angehalten</translation>
    </message>
    <message>
      <source>not run: the run was stopped</source>
      <translation>nicht ausgeführt: Der Lauf wurde angehalten</translation>
    </message>
    <message>
      <source>; left unfinished in %1</source>
      <translation>; unvollendet in %1</translation>
    </message>
    <message>
      <source>Open Run Log</source>
      <translation>Laufprotokoll öffnen</translation>
    </message>
    <message>
      <source>Retry Failed</source>
      <translation>Fehlgeschlagene wiederholen</translation>
    </message>
    <message>
      <source>Files copied successfully</source>
      <translation>Dateien erfolgreich kopiert</translation>
    </message>
    <message>
      <source>Errors occurred during file copy operation</source>
      <translation>Beim Kopieren der Dateien sind Fehler aufgetreten</translation>
    </message>
    <message>
      <source>Undo</source>
      <translation>Rückgängig</translation>
    </message>
    <message>
      <source>Go to Folder...</source>
      <translation>Gehe zu Ordner...</translation>
    </message>
    <message>
      <source>Open this folder in the destination pane:</source>
      <translation>Diesen Ordner im Zielbereich öffnen:</translation>
    </message>
    <message>
      <source>Open this folder in the source pane:</source>
      <translation>Diesen Ordner im Quellbereich öffnen:</translation>
    </message>
    <message>
      <source>Go to Folder</source>
      <translation>Gehe zu Ordner</translation>
    </message>
    <message>
      <source>The folder %1 cannot be opened.</source>
      <translation>Der Ordner %1 kann nicht geöffnet werden.</translation>
    </message>
    <message>
      <source>The queue holds entries that have not been saved. Save them first?</source>
      <translation>Die Warteschlange enthält Einträge, die nicht gespeichert wurden. Zuerst speichern?</translation>
    </message>
    <message>
      <source>Save</source>
      <translation>Speichern</translation>
    </message>
    <message>
      <source>Discard</source>
      <translation>Verwerfen</translation>
    </message>
    <message>
      <source>Cancel</source>
      <translation>Abbrechen</translation>
    </message>
    <message>
      <source>Load File Queue List</source>
      <translation>Warteschlangenliste laden</translation>
    </message>
    <message>
      <source>The last run stopped at entry %1 of %2 (%3). Resume it where it stopped, start it afresh, or discard it?</source>
      <translation>Der letzte Lauf endete bei Eintrag %1 von %2 (%3). Dort fortsetzen, von vorn beginnen oder verwerfen?</translation>
    </message>
    <message>
      <source>Resume</source>
      <translation>Fortsetzen</translation>
    </message>
    <message>
      <source>Start afresh</source>
      <translation>Von vorn beginnen</translation>
    </message>
  </context>
  <context>
    <name>mivex::ui::frmOptions</name>
    <message>
      <source>Options for this operation</source>
      <translation>Optionen für diesen Vorgang</translation>
    </message>
    <message>
      <source>File Operation</source>
      <translation>Dateivorgang</translation>
    </message>
    <message>
      <source>Copy Files</source>
      <translation>Dateien kopieren</translation>
    </message>
    <message>
      <source>Move Files</source>
      <translation>Dateien verschieben</translation>
    </message>
    <message>
      <source>Do not overwrite existing files (make a copy)</source>
      <translation>Vorhandene Dateien nicht überschreiben (Kopie anlegen)</translation>
    </message>
    <message>
      <source>Overwrite existing files</source>
      <translation>Vorhandene Dateien überschreiben</translation>
    </message>
    <message>
      <source>Overwrite only files that changed (update)</source>
      <translation>Nur geänderte Dateien überschreiben (aktualisieren)</translation>
    </message>
    <message>
      <source>OK</source>
      <translation>OK</translation>
    </message>
    <message>
      <source>Cancel</source>
      <translation>Abbrechen</translation>
    </message>
    <message>
      <source>Log Location</source>
      <translation>Protokollort</translation>
    </message>
    <message>
      <source>Please select an entry in the queue to change its options.</source>
      <translation>Bitte wählen Sie einen Eintrag der Warteschlange, um seine Optionen zu ändern.</translation>
    </message>
    <message>
      <source>This line of the queue is not a file operation, so it has no options to change. An entry reads "C-N --&gt; source --&gt; destination folder"; remove the line, or correct it in the list file and load the list again.</source>
      <translation>Diese Zeile der Warteschlange ist kein Dateivorgang und hat daher keine Optionen. Ein Eintrag lautet "C-N --&gt; Quelle --&gt; Zielordner"; entfernen Sie die Zeile, oder korrigieren Sie sie in der Listendatei und laden Sie die Liste erneut.</translation>
    </message>
    <message>
      <source>Options for default operations</source>
      <translation>Optionen für Standardvorgänge</translation>
    </message>
    <message>
      <source>This operation already exists in the queue.</source>
      <translation>Dieser Vorgang ist bereits in der Warteschlange.</translation>
    </message>
    <message>
      <source>Verify each file after copying</source>
      <translation>Jede Datei nach dem Kopieren prüfen</translation>
    </message>
    <message>
      <source>Each copy is read back from the disk and compared with its source before it takes its name; a copy that differs is discarded and its entry fails.</source>
      <translation>Jede Kopie wird vom Datenträger zurückgelesen und mit ihrer Quelle verglichen, bevor sie ihren Namen erhält; eine abweichende Kopie wird verworfen, und ihr Eintrag schlägt fehl.</translation>
    </message>
  </context>
  <context>
    <name>mivex::ui::frmProgress</name>
    <message>
      <source>Processing files from your queue.</source>
      <translation>Dateien aus Ihrer Warteschlange werden verarbeitet.</translation>
    </message>
    <message>
      <source>Progress</source>
      <translation>Fortschritt</translation>
    </message>
    <message>
      <source>Whole run</source>
      <translation>Gesamter Lauf</translation>
    </message>
    <message>
      <source>Pause</source>
      <translation>Pause</translation>
    </message>
    <message>
      <source>Skip</source>
      <translation>Überspringen</translation>
    </message>
    <message>
      <source>Stop this entry and go on with the next one</source>
      <translation>Diesen Eintrag beenden und mit dem nächsten weitermachen</translation>
    </message>
    <message>
      <source>Cancel</source>
      <translation>Abbrechen</translation>
    </message>
    <message>
      <source>Cancelling...</source>
      <translation>Wird abgebrochen...</translation>
    </message>
    <message>
      <source>Entry %1 of %2</source>
      <translation>Eintrag %1 von %2</translation>
    </message>
    <message>
      <source>Counting files...</source>
      <translation>Dateien werden gezählt...</translation>
    </message>
    <message>
      <source>%1 of %2</source>
      <translation>%1 von %2</translation>
    </message>
    <message>
      <source>%1 of %2 %3</source>
      <translation>%1 von %2 %3</translation>
    </message>
    <message>
      <source>file</source>
      <translation>Datei</translation>
    </message>
    <message>
      <source>files</source>
      <translation>Dateien</translation>
    </message>
    <message>
      <source>Paused</source>
      <translation>Pausiert</translation>
    </message>
    <message>
      <source>Speed: —</source>
      <translation>Geschwindigkeit: —</translation>
    </message>
    <message>
      <source>Speed: %1/s</source>
      <translation>Geschwindigkeit: %1/s</translation>
    </message>
    <message>
      <source>Whole run: %1, %2 files so far (counting...)</source>
      <translation>Gesamter Lauf: %1, bisher %2 Dateien (wird gezählt...)</translation>
    </message>
    <message>
      <source>Whole run: %1 of %2, %3 of %4 files</source>
      <translation>Gesamter Lauf: %1 von %2, %3 von %4 Dateien</translation>
    </message>
    <message>
      <source>%1 h %2 min left</source>
      <translation>noch %1 h %2 min</translation>
    </message>
    <message>
      <source>%1 min %2 s left</source>
      <translation>noch %1 min %2 s</translation>
    </message>
    <message>
      <source>%1 s left</source>
      <translation>noch %1 s</translation>
    </message>
    <message>
      <source>Stop the run? The entry in hand is left unfinished and the rest of the queue is not carried out.</source>
      <translation>Den Lauf anhalten? Der laufende Eintrag bleibt unvollendet, und der Rest der Warteschlange wird nicht ausgeführt.</translation>
    </message>
    <message>
      <source>Yes</source>
      <translation>Ja</translation>
    </message>
    <message>
      <source>No</source>
      <translation>Nein</translation>
    </message>
    <message>
      <source>Resume</source>
      <translation>Fortsetzen</translation>
    </message>
    <message>
      <source>%1% %2</source>
      <translation>%1 % %2</translation>
    </message>
    <message>
      <source>Speed &amp;limit:</source>
      <translation>Geschwindigkeits&amp;limit:</translation>
    </message>
    <message>
      <source>Speed limit</source>
      <translation>Geschwindigkeitslimit</translation>
    </message>
    <message>
      <source> MiB/s</source>
      <translation> MiB/s</translation>
    </message>
    <message>
      <source>No limit</source>
      <translation>Kein Limit</translation>
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
