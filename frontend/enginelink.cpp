// Binds the dialog's engine table to the engine library. Linking this file is what makes the
// program need every one of the eight entry points when it is loaded.
#include "engineapi.h"

const EngineApi& LinkedEngine() {
    static const EngineApi engine = {PassSaveResult, PassDynaResult, GetHWND,   GetMsgBuffer,
                                     GetRetCode,     SQL_Test,       SSendMain, SRecvMain};
    return engine;
}
