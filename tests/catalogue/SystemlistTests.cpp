#include <gtest/gtest.h>

#include <string>

#include "catalogue/Systemlist.h"

namespace pelorin {
namespace {

struct ExpectedRow {
    BaseFolder base;
    const char* subFolder;
    const char* fileName;
};

using enum BaseFolder;

// The table as the program must carry it, transcribed separately from the code.
const ExpectedRow Expected[] = {
    {Windows, "", "explorer.exe"},
    {Program, "", "Pelorin.exe"},
    {Program, "", "Tessivane.exe"},
    {System, "", "csrss.exe"},
    {System, "", "winlogon.exe"},
    {System, "", "spoolsv.exe"},
    {System, "", "lsass.exe"},
    {System, "", "services.exe"},
    {System, "", "alg.exe"},
    {System, "", "searchindexer.exe"},
    {System, "", "searchfilterhost.exe"},
    {System, "", "searchprotocolhost.exe"},
    {System, "", "wscntfy.exe"},
    {System, "", "svchost.exe"},
    {System, "", "wuauclt.exe"},
    {System, "", "nvsvc32.exe"},
    {System, "", "ctfmon.exe"},
    {System, "", "smss.exe"},
    {System, "wbem\\", "wmiprvse.exe"},
    {Windows, "", "RTHDCPL.exe"},
    {DriveRoot, "ProxN45J\\", "Proxomitron.exe"},
    {DriveRoot, "Brannock\\Ostrel\\", "Ostrel.exe"},
    {ProgramFiles, "ATI Technologies\\ATI.ACE\\Core-Static\\", "CCC.exe"},
    {ProgramFiles, "ATI Technologies\\ATI.ACE\\Core-Static\\", "MOM.exe"},
    {ProgramFiles, "", "ati2evxx.exe"},
    {ProgramFiles, "Rosewill 11n USB Wireless LAN Utility\\", "RtWLan.exe"},
    {ProgramFiles, "USB TV\\EM28XX\\", "BDARemote.exe"},
    {ProgramFiles, "iPod\\bin\\", "iPodService.exe"},
    {ProgramFiles, "Common Files\\Apple\\Mobile Device Support\\", "AppleMobileDeviceService.exe"},
    {ProgramFiles, "iTunes\\", "iTunesHelper.exe"},
    {ProgramFiles, "Microsoft\\", "SeaPort.exe"},
    {ProgramFiles, "Microsoft\\", "sqlservr.exe"},
    {ProgramFiles, "Microsoft\\", "sqlwriter.exe"},
    {ProgramFiles, "Microsoft SQL Server\\90\\Shared\\", "sqlbrowser.exe"},
    {ProgramFiles, "Microsoft Office\\Office12\\", "OUTLOOK.EXE"},
    {ProgramFiles, "Common Files\\Microsoft Shared\\VS7DEBUG\\", "mdm.exe"},
    {ProgramFiles, "Wave Systems Corp\\Trusted Drive Manager\\", "TdmService.exe"},
    {ProgramFiles, "Adobe\\Acrobat 9.0\\Acrobat\\", "acrotray.exe"},
    {ProgramFiles, "Java\\jre6\\bin\\", "jqs.exe"},
    {ProgramFiles, "Java\\Java Update\\", "jusched.exe"},
    {ProgramFiles, "Symantec\\Symantec Endpoint Protection\\", "Smc.exe"},
    {ProgramFiles, "Symantec\\Symantec Endpoint Protection\\", "SmcGui.exe"},
    {ProgramFiles, "Symantec\\Symantec Endpoint Protection\\", "SescLU.exe"},
    {ProgramFiles, "Common Files\\Symantec Shared\\", "ccApp.exe"},
    {ProgramFiles, "Common Files\\Symantec Shared\\", "ccSvcHst.exe"},
    {ProgramFiles, "Microsoft Small Business\\Business Contact Manager\\", "BcmSqlStartupSvc.exe"},
};

TEST(KnownProcessTable, HoldsTheFortySixRowsInOrder) {
    ASSERT_EQ(KnownProcessTable.size(), std::size(Expected));
    for (std::size_t i = 0; i < KnownProcessTable.size(); ++i) {
        const KnownProcessRow& row = KnownProcessTable[i];
        EXPECT_EQ(row.base, Expected[i].base) << "row " << i + 1;
        EXPECT_EQ(row.subFolder, Expected[i].subFolder) << "row " << i + 1;
        EXPECT_EQ(row.fileName, Expected[i].fileName) << "row " << i + 1;
        EXPECT_TRUE(row.subFolder.empty() || row.subFolder.back() == '\\') << "row " << i + 1;
        EXPECT_TRUE(IsKnownProcess(row.fileName)) << row.fileName;
    }
}

TEST(KnownProcessTable, NamesAreComparedWholeAndCaseSensitively) {
    for (const char* known : {"svchost.exe", "Pelorin.exe", "CCC.exe", "OUTLOOK.EXE", "explorer.exe", "RTHDCPL.exe"}) {
        EXPECT_TRUE(IsKnownProcess(known)) << known;
    }
    for (const char* unknown : {"SVCHOST.EXE", "Svchost.exe", "Explorer.exe", "outlook.exe", "Outlook.exe",
                                "pelorin.exe", "", "svchost.exe ", " svchost.exe", "svchost",
                                "C:\\windows\\system32\\svchost.exe", "ccc.exe", "notepad.exe"}) {
        EXPECT_FALSE(IsKnownProcess(unknown)) << '"' << unknown << '"';
    }
    // A name with an embedded zero is not its prefix.
    EXPECT_FALSE(IsKnownProcess(std::string_view("svchost.exe\0x", 13)));
}

}  // namespace
}  // namespace pelorin
