#include "servers.h"

#include "nfs_server.h"
#include "smb_server.h"

#include <memory>

namespace zebcli_test {

namespace {

std::unique_ptr<zebtest::SmbServer> smb;
std::unique_ptr<zebtest::NfsServer> nfs;

} // namespace

std::optional<Server> Started(const std::string& backend, std::string* whyNot) {
    if (backend == "smb") {
        if (!smb) {
            smb = zebtest::SmbServer::Start(whyNot);
        }
        if (!smb) {
            return std::nullopt;
        }
        zebtest::SmbServer* s = smb.get();
        return Server{
            backend,
            "smb://root@127.0.0.1/share/T.TST",
            "SMB://root@[::1]/share/T.TST",
            {{"smb://root@127.0.0.1/share/W.TST", "logon failure"},
             {"smb://root@nosuchhost.invalid/share/W.TST", "unknown host: no address for its name"},
             {"smb://root@127.0.0.1:4455/share/W.TST",
              "the server refused the connection (nothing listens at port 4455)"},
             {"smb://root@127.0.0.1/share/W*.TST",
              "the server refuses the name of the file or of a directory on its path"},
             {"smb://root@127.0.0.1/share/W%FF.TST",
              "a name in the path is not UTF-8, which SMB names must be"}},
            s->BackingDirectory(),
            s->Launcher(),
            [s] { return s->ServerBytesRead(); },
            [s] { s->Kill(); },
            [s] { s->Stop(); },
            [s] { s->Continue(); },
            [s](std::string* why) { return s->Restart(why); }};
    }
    if (!nfs) {
        nfs = zebtest::NfsServer::Start(whyNot);
    }
    if (!nfs) {
        return std::nullopt;
    }
    zebtest::NfsServer* s = nfs.get();
    return Server{
        backend,
        "nfs://127.0.0.1:2049/zeb/T.TST",
        "Nfs://[::1]:2049/zeb/T.TST",
        {{"nfs://127.0.0.1/none/W.TST", "mount: no such export (mount_cb: NFS4: "},
         {"nfs://nosuchhost.invalid/zeb/W.TST", "mount: unknown host: no address for its name"},
         {"nfs://127.0.0.1:2050/zeb/W.TST",
          "mount: the server refused the connection (nothing listens at port 2050)"}},
        s->ExportDirectory(),
        s->Launcher(),
        [s] { return s->ServerBytesRead(); },
        [s] { s->Kill(); },
        [s] { s->Stop(); },
        [s] { s->Continue(); },
        [s](std::string* why) { return s->Restart(why); }};
}

void EndServers() {
    smb.reset();
    nfs.reset();
}

} // namespace zebcli_test
