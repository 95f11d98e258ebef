#include "PublishCommandLine.h"

#include <ostream>
#include <stdexcept>

#include "Installer.h"
#include "Publisher.h"
#include "Signer.h"

namespace {

// "VERSION:DIR", split at the first ":" (versions never hold one).
PublishedVersion SplitVersionDir(const std::string& arg) {
    size_t colon = arg.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == arg.size()) {
        throw std::invalid_argument("expected VERSION:DIR, got \"" + arg + "\"");
    }
    return {arg.substr(0, colon), arg.substr(colon + 1)};
}

class ArgReader {
public:
    explicit ArgReader(const std::vector<std::string>& args) : m_args(args) {}
    bool Done() const { return m_i >= m_args.size(); }
    const std::string& Next() { return m_args[m_i++]; }
    const std::string& Value(const std::string& option) {
        if (Done()) {
            throw std::invalid_argument(option + " needs a value");
        }
        return Next();
    }

private:
    const std::vector<std::string>& m_args;
    size_t m_i = 0;
};

InstallOptions ParseInstall(ArgReader& r) {
    InstallOptions o;
    std::vector<std::string> positional;
    while (!r.Done()) {
        const std::string& a = r.Next();
        if (a == "--version") {
            o.version = r.Value(a);
        } else if (a == "--update-name") {
            o.updateName = r.Value(a);
        } else if (a == "--launcher-version") {
            o.launcherVersion = r.Value(a);
        } else if (a == "--pack-dir") {
            o.packDirs.push_back(r.Value(a));
        } else if (a.rfind("--", 0) == 0) {
            throw std::invalid_argument("unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2 || o.version.empty() || o.updateName.empty()) {
        throw std::invalid_argument(
            "usage: install --version V --update-name NAME SOURCEDIR GAMEDIR");
    }
    o.sourceDir = positional[0];
    o.gameDir = positional[1];
    return o;
}

PublishOptions ParsePublish(ArgReader& r) {
    PublishOptions o;
    while (!r.Done()) {
        const std::string& a = r.Next();
        if (a == "--out") {
            o.outDir = r.Value(a);
        } else if (a == "--update-name") {
            o.updateName = r.Value(a);
        } else if (a == "--launcher-version") {
            o.launcherVersion = r.Value(a);
        } else if (a == "--primary") {
            o.primaryVersion = r.Value(a);
        } else if (a == "--minor") {
            o.minor = SplitVersionDir(r.Value(a));
        } else if (a == "--launcher-dir") {
            o.launcherDir = r.Value(a);
        } else if (a == "--type-ini") {
            o.typeIni = r.Value(a);
        } else if (a == "--config") {
            o.configGlobs.push_back(r.Value(a));
        } else if (a == "--pack-dir") {
            o.packDirs.push_back(r.Value(a));
        } else if (a == "--manifest") {
            o.manifest = r.Value(a);
        } else if (a == "--no-full") {
            o.noFull = true;
        } else if (a == "--store") {
            o.store = true;
        } else if (a == "--sign-key") {
            o.signKey = r.Value(a);
        } else if (a.rfind("--", 0) == 0) {
            throw std::invalid_argument("unknown option " + a);
        } else {
            o.versions.push_back(SplitVersionDir(a));
        }
    }
    if (o.outDir.empty() || o.updateName.empty() || o.versions.empty()) {
        throw std::invalid_argument("--out, --update-name and one VERSION:DIR are required");
    }
    return o;
}

}  // namespace

CPublishCommandLine::Parsed CPublishCommandLine::Parse(const std::vector<std::string>& args) {
    Parsed p;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            return p;
        }
    }
    if (args.empty()) {
        throw std::invalid_argument("nothing to do; see --help");
    }
    ArgReader r(args);
    if (args[0] == "install") {
        r.Next();
        p.command = Command::Install;
        p.install = ParseInstall(r);
    } else if (args[0] == "keygen") {
        if (args.size() != 3 || args[1].rfind("--", 0) == 0 || args[2].rfind("--", 0) == 0) {
            throw std::invalid_argument("usage: keygen PRIVATE.pem PUBLIC.key");
        }
        p.command = Command::Keygen;
        p.keygen = {args[1], args[2]};
    } else {
        p.command = Command::Publish;
        p.publish = ParsePublish(r);
    }
    return p;
}

std::string CPublishCommandLine::HelpText() {
    return R"(varn-publish: writes a patch root for the Varn launcher.

Publish:
  varn-publish --out ROOT --update-name NAME [options] VERSION:DIR ...
    VERSION:DIR        one published version and the directory holding all of
                       its files; give them oldest first (at least one)
    --out ROOT         patch root to write (created when missing)
    --update-name NAME name of the update line (at most 29 characters)
    --launcher-version V   launcher version announced in update.uvf
    --launcher-dir DIR     also write LAUNCHER/LAUNCHER_<V>.lbc with every file
                           of DIR and its clientlist.uvf (needs
                           --launcher-version). DIR is the launcher as
                           installed: the programs, libvarncore.so,
                           libvarnplatform.so, the Resource_*.ini bundles and
                           skin/; the new launcher starts from it alone
    --primary V        primary version in update.uvf (default: oldest version)
    --minor M:DIR      publish minor version M of the latest version: DIR holds
                       the latest version with the minor changes applied
    --config GLOB      files matching GLOB are configuration files (type 1:
                       installed only where the player has none). "*" and "?"
                       stay within one directory; a GLOB without "/" matches
                       the file name alone. Repeatable.
    --manifest FILE    per-file update types, lines "<0-3> <name>" (3 only
                       under a --pack-dir); wins over
                       --config ("#" starts a comment line)
    --pack-dir REL     REL (a relative path ending in ".lpk", e.g.
                       Data/Sound/Sound.lpk) is a pack kept as a directory of
                       loose files in every version. Its files are published
                       as pack entries (type 3, named REL\inner\path): each
                       archive holds a pack at REL built from the changed
                       files, the full archive one built from all. Repeatable.
    --type-ini FILE    scramble the plain launcher type file FILE into
                       ROOT/type.uvf
    --no-full          do not write the full archive (FULLVERSIONSIZE=0)
    --store            store archive entries instead of deflating them
    --sign-key FILE    sign the root with the Ed25519 private key in FILE
                       (PEM, see keygen): writes update.uvf.sig,
                       versionlist.uvf.sig and manifest.uvf.sig

  Writes ROOT/update.uvf, ROOT/versionlist.uvf, one <from>_to_<to>.lbc per
  neighbouring pair of versions (changed and added files plus filelist.uvf),
  Full_<NAME>_<latest>.lbc (every file of the latest version plus
  Update/version.uvf), minor_to_<latest>_of_<M>.lbc with --minor, and
  ROOT/manifest.uvf: every file of the latest version (pack entries with
  their pack) with its size and SHA-256, and the SHA-256 of every archive;
  varn-patch --verify and --repair read it.
  Output is deterministic: sorted names, fixed entry times.

Install:
  varn-publish install --version V --update-name NAME [--launcher-version L]
               [--pack-dir REL ...] SOURCEDIR GAMEDIR
    copies every file of SOURCEDIR into GAMEDIR (files under a --pack-dir
    become a pack at REL) and writes GAMEDIR/Update/version.uvf recording
    version V.

Keygen:
  varn-publish keygen PRIVATE.pem PUBLIC.key
    makes a signing key pair: the private key (PEM, readable by its owner
    only) for --sign-key, and the public key as 64 hexadecimal digits. A
    game that has PUBLIC.key as Update/publisher.key (or a build with
    -DVARN_PUBLISHER_KEY=<the digits>) refuses an update.uvf,
    versionlist.uvf or manifest.uvf without a valid signature and an
    archive whose SHA-256 is not the manifest's.

File names must be relative and must not contain "\", ":" or "." / ".."
parts; symbolic links are refused. Versions and the update name must not
contain "/", "\", ":" or "..".

Exit status: 0 success, 1 publishing failed, 2 bad command line.
)";
}

int CPublishCommandLine::Main(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& err) {
    Parsed p;
    try {
        p = Parse(args);
    } catch (const std::invalid_argument& e) {
        err << "varn-publish: " << e.what() << "\n";
        return 2;
    }
    try {
        switch (p.command) {
            case Command::Help:
                out << HelpText();
                return 0;
            case Command::Install:
                CInstaller::Install(p.install);
                return 0;
            case Command::Keygen:
                CSigner::Generate(p.keygen.privateKey, p.keygen.publicKey);
                return 0;
            case Command::Publish:
                CPublisher(p.publish).Run();
                return 0;
        }
    } catch (const std::exception& e) {
        err << "varn-publish: " << e.what() << "\n";
    }
    return 1;
}
