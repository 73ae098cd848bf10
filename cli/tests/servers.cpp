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
        return Server{backend,
                      "smb://root@127.0.0.1/share/T.TST",
                      {{"smb://root@127.0.0.1/share/W.TST", "logon failure"}},
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
    return Server{backend,
                  "nfs://127.0.0.1:2049/zeb/T.TST",
                  {{"nfs://127.0.0.1/none/W.TST", "mount"},
                   {"nfs://127.0.0.1:2050/zeb/W.TST", "mount: the server cannot be reached"},
                   {"nfs://127.0.0.1:0/zeb/W.TST", "the port is not a number from 1 to 65535"}},
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
