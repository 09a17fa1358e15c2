#include "settingsxml.h"

#include <QDir>

namespace settingsxml {

QByteArray oneWatchedFolder(const WatchedFolder& folder, const QString& apiUrl)
{
    // The demo password as the settings file stores a remembered one.
    const QString account = apiUrl.isEmpty() ? QStringLiteral(R"(
    <rememberPassword>false</rememberPassword>
    <apiURL></apiURL>
    <wUsername></wUsername>)")
                                             : QStringLiteral(R"(
    <rememberPassword>true</rememberPassword>
    <apiURL>%1</apiURL>
    <wUsername>demo@sonvira.local</wUsername>
    <wPassword>38393133</wPassword>)")
                                                   .arg(apiUrl);
    const QString xml = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<Settings>
    <showFirstTime_AddWatchFolderDialog>false</showFirstTime_AddWatchFolderDialog>
    <hideWhenClosed>false</hideWhenClosed>%1
    <FFMPEGPath></FFMPEGPath>
    <ScanPath>
        <path>%2</path>
        <showDialog>false</showDialog>
        <preset>1: Speech -16 LUFS</preset>
        <encodeToMP3_bitRate>160</encodeToMP3_bitRate>
        <outputPath>%3</outputPath>
        <outputSuffix>%4</outputSuffix>
        <enabled>true</enabled>
        <encodeToMP3>false</encodeToMP3>
        <encodeToMP3_suffix></encodeToMP3_suffix>
        <deleteWAVafterMP3Encoding>false</deleteWAVafterMP3Encoding>
        <postProcessing_Arguments>normOp00: -20 dBrms</postProcessing_Arguments>
        <preProcessing_Arguments></preProcessing_Arguments>
        <preProcessing_Result>2</preProcessing_Result>
        <monoProcessing_ConvertToDualStereo>false</monoProcessing_ConvertToDualStereo>
        <monoProcessing_KeepConverted>false</monoProcessing_KeepConverted>
    </ScanPath>
</Settings>
)");
    return xml
        .arg(account, QDir::toNativeSeparators(folder.path), QDir::toNativeSeparators(folder.outputPath),
             folder.outputSuffix)
        .toUtf8();
}

} // namespace settingsxml
