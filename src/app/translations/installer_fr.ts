<?xml version="1.0" encoding="utf-8"?>
<!-- SPDX-License-Identifier: Apache-2.0 -->
<!-- Qt's own texts that Qt's French catalogue (qtbase_fr, Debian's Qt 6.4) lacks: the type
     names of the file dialog's list. The installer loads this catalogue after Qt's; a text
     found here wins. Built with lrelease into the program's resources. -->
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>QAbstractFileIconProvider</name>
    <message>
        <source>Folder</source>
        <translation>Dossier</translation>
    </message>
    <message>
        <source>Drive</source>
        <translation>Lecteur</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
    <message>
        <source>Shortcut</source>
        <translation>Raccourci</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Inconnu</translation>
    </message>
</context>
</TS>
