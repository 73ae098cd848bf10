// NetBIOS over TCP/IP: the classic NCB interface. One entry point, Netbios, takes one network
// control block; synchronous commands return when complete, commands with ASYNCH return at
// once and are completed by the provider's own thread.
#ifndef ZEB_NETBIOS_H
#define ZEB_NETBIOS_H

#define NCBNAMSZ 16

#ifdef __cplusplus
extern "C" {
#endif

typedef struct NCB {
    unsigned char ncb_command; // command code; ASYNCH asks for asynchronous completion
    unsigned char ncb_retcode; // final return code; NRC_PENDING while outstanding
    unsigned char ncb_lsn;     // local session number
    unsigned char ncb_num;     // name number
    unsigned char* ncb_buffer; // data buffer; the target NCB for NCBCANCEL
    unsigned short ncb_length; // buffer size in, bytes transferred out
    unsigned char ncb_callname[NCBNAMSZ];
    unsigned char ncb_name[NCBNAMSZ];
    unsigned char ncb_rto;         // receive time-out of a session, 500 ms units, 0 = none
    unsigned char ncb_sto;         // send time-out of a session, 500 ms units, 0 = none
    void (*ncb_post)(struct NCB*); // not supported: must be null
    unsigned char ncb_lana_num;
    unsigned char ncb_cmd_cplt; // NRC_PENDING while outstanding, then the final code
    unsigned char ncb_reserve[18];
    void* ncb_event; // not supported: must be null
} NCB, *PNCB;

// Command codes.
#define NCBCALL 0x10
#define NCBLISTEN 0x11
#define NCBHANGUP 0x12
#define NCBSEND 0x14
#define NCBRECV 0x15
#define NCBRECVANY 0x16
#define NCBCHAINSEND 0x17
#define NCBDGSEND 0x20
#define NCBDGRECV 0x21
#define NCBDGSENDBC 0x22
#define NCBDGRECVBC 0x23
#define NCBADDNAME 0x30
#define NCBDELNAME 0x31
#define NCBRESET 0x32
#define NCBASTAT 0x33
#define NCBSSTAT 0x34
#define NCBCANCEL 0x35
#define NCBADDGRNAME 0x36
#define NCBENUM 0x37
#define NCBUNLINK 0x70
#define NCBSENDNA 0x71
#define NCBCHAINSENDNA 0x72
#define NCBLANSTALERT 0x73
#define NCBACTION 0x77
#define NCBFINDNAME 0x78
#define NCBTRACE 0x79
#define ASYNCH 0x80

// Return codes.
#define NRC_GOODRET 0x00
#define NRC_BUFLEN 0x01
#define NRC_ILLCMD 0x03
#define NRC_CMDTMO 0x05
#define NRC_INCOMP 0x06
#define NRC_BADDR 0x07
#define NRC_SNUMOUT 0x08
#define NRC_NORES 0x09
#define NRC_SCLOSED 0x0a
#define NRC_CMDCAN 0x0b
#define NRC_DUPNAME 0x0d
#define NRC_NAMTFUL 0x0e
#define NRC_ACTSES 0x0f
#define NRC_LOCTFUL 0x11
#define NRC_REMTFUL 0x12
#define NRC_ILLNN 0x13
#define NRC_NOCALL 0x14
#define NRC_NOWILD 0x15
#define NRC_INUSE 0x16
#define NRC_NAMERR 0x17
#define NRC_SABORT 0x18
#define NRC_NAMCONF 0x19
#define NRC_IFBUSY 0x21
#define NRC_TOOMANY 0x22
#define NRC_BRIDGE 0x23
#define NRC_CANOCCR 0x24
#define NRC_CANCEL 0x26
#define NRC_DUPENV 0x30
#define NRC_ENVNOTDEF 0x34
#define NRC_OSRESNOTAV 0x35
#define NRC_MAXAPPS 0x36
#define NRC_NOSAPS 0x37
#define NRC_NORESOURCES 0x38
#define NRC_INVADDRESS 0x39
#define NRC_INVDDID 0x3b
#define NRC_LOCKFAIL 0x3c
#define NRC_OPENERR 0x3f
#define NRC_SYSTEM 0x40
#define NRC_PENDING 0xff

// Runs one command. The outcome is in ncb_retcode and ncb_cmd_cplt; the value returned is
// ncb_retcode at the time of return (NRC_GOODRET for an accepted ASYNCH command).
//
// Of the asynchronous forms only NCBLISTEN completes in the background (on the provider's
// thread); any other command with ASYNCH runs to completion before Netbios returns. Readers
// of ncb_cmd_cplt on another thread read it with acquire ordering: the provider writes
// ncb_retcode, ncb_lsn and ncb_callname before it stores ncb_cmd_cplt with release ordering.
unsigned char Netbios(NCB* ncb);

#ifdef __cplusplus
}
#endif

#endif
