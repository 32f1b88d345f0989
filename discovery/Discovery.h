#pragma once
// What the program learns before it changes anything: its settings, the installation it updates (the
// CAD folder, its Ver file, version and revision), and whether the server holds a newer revision, as
// plain objects that the steps after it take.
#include <string>
#include <vector>

#include "Person.h"
#include "Server.h"
#include "UrlText.h"

struct CReleaseManifest;

struct CSettings : CServerAccess {
    std::string m_strIniPath;
    std::string m_strFixDirUrl;
    std::string m_strFixFileName;
    std::string m_strTempPath;
    std::string m_strWorkDir;
    std::string m_strAppName;
    // Base64 public keys, comma-separated; empty: releases are taken unsigned.
    std::string m_strPublicKeys;
};

struct CInstallation {
    int m_nVersion = 0;
    int m_nRevision = 0;
    std::string m_strVerFile;
    // The root that the archive's paths map onto: the CAD folder (mode 3), else its drive or share.
    std::string m_strCadDir;
    // The CAD folder itself, absolute, with its trailing separator.
    std::string m_strCadFolder;
    // What the full dialog's status line says of it.
    std::string m_strStatus;
};

// The newer revision that the last check found, and what its signed manifest promised.
struct CRelease : CUpdateFile {
    std::string m_strVerUrl;
    // The server's Ver text that the last check read and accepted, byte for byte: the pane shows it.
    std::string m_strVerText;
    // Whether the last check failed for a reason it has already told (the proxy, a certificate), or
    // because the user left: nothing more is to be said about it.
    BOOL m_bCheckToldWhy = FALSE;
    // Installed files that the signed release takes away: an update backs each up, then deletes it.
    std::vector<std::string> m_removed;
    // Why the keys did not vouch for the newer revision the last check found; empty when they did.
    std::string m_strDistrust;
    // The signed archive of binary deltas from the installed revision, when the release has one
    // (m_strUpdateUrl empty when not): far smaller than the whole, tried first.
    CUpdateFile m_delta;
};

// What a release that the keys do not vouch for is told with.
std::string DistrustMessage(const std::string& reason);

class CDiscovery {
public:
    // nMode: the product mode; strHome: the CAD folder given with -HOME, if any.
    CDiscovery(CSettings& settings, CInstallation& installation, CRelease& release, CPerson& person, int nMode,
               const std::string& strHome)
        : m_settings(settings), m_installation(installation), m_release(release), m_person(person),
          m_nMode(nMode), m_strHome(strHome) {}

    // The settings file's part of the settings, the temporary and work folders (the work folder named
    // after appName); FALSE after its message.
    BOOL ReadSettingsFile(const char* appName);
    // Once the installation is known: where no temporary folder could be named, ~ZYNTMP at its volume's root.
    void UseVolumeTempFolder(const char* appName);
    void MakeAgentString();
    // Sets m_strCadFolder and m_strCadDir from -HOME, ZYN_HOME or the program's place.
    void FindInstallation();
    int GetZynInfo();
    int CheckUpdate(BOOL bQuiet);
    int FindNewerVersion();
    // With public keys configured: TRUE only when the server's signed manifest vouches for this Ver text
    // and the revision it carries; then the release's removals and its delta, if any, are filled in.
    // FALSE after a message naming why not, unless bQuiet or a message has already said it.
    BOOL CheckSignedRelease(const std::string& verText, BOOL bQuiet);
    // Why the keys do not vouch for the release of version (code) that verText at verUrl announces, or
    // null when they do: manifest then holds its promises. why says why no manifest could be read.
    const char* DistrustRelease(const std::string& verUrl, const std::string& version, int code,
                                const std::string& verText, CReleaseManifest& manifest, UrlFailure& why);

private:
    CServer Server() { return CServer(m_settings, m_person); }
    // The temporary folder and the work folder in it, named after appName.
    void UseTempFolder(const std::string& folder, const char* appName);

    CSettings& m_settings;
    CInstallation& m_installation;
    CRelease& m_release;
    CPerson& m_person;
    int m_nMode;
    std::string m_strHome;
};
