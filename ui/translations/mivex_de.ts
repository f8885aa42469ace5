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
