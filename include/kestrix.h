/*
 * kestrix: decoding of DER X.509 certificates and PKCS#10 requests, and a
 * Base64 codec for PEM bodies.
 *
 * Plain C (C99 and C++). Every export uses the KESTRIX_CALL convention
 * (stdcall on 32-bit Windows) and 32-bit integers. The library keeps no
 * state a caller can see: every call may run on any thread at once on
 * separate buffers. Each thread keeps the certificate it last gave
 * GetCertInfo, GetUsrPubKey or GetPreCertVerified (up to 16 KB, in one block
 * of about 41 KB per thread, freed when the thread ends or the library is
 * unloaded), so that asking for many items of one certificate decodes it
 * once; the answers are always those of a fresh decode of the bytes given.
 * No export receives an output capacity unless its argument list says so;
 * each prototype below states how large its outputs can be.
 */
#ifndef KESTRIX_H
#define KESTRIX_H

#include <stddef.h>
#include <stdint.h>

/* The library's version (CMake's project version). The shared object's
 * SONAME carries the major version, which changes only when an export, a
 * status or item code or the P10RequestInfo layout changes incompatibly. */
#define KESTRIX_VERSION_MAJOR 1
#define KESTRIX_VERSION_MINOR 1
#define KESTRIX_VERSION_PATCH 0
#define KESTRIX_VERSION_STRING "1.1.0"

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRIX_CALL __stdcall
#else
#define KESTRIX_CALL
#endif

#if defined(_WIN32)
/* The Windows DLL takes its export names from kestrix.def. */
#define KESTRIX_API
#elif defined(__GNUC__)
#define KESTRIX_API __attribute__((visibility("default")))
#else
#define KESTRIX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. Every export but getcertlen returns one of these. */
#define KX_OK 0                     /* success */
#define KX_ERR_NO_MEMORY (-1)       /* a heap allocation failed */
#define KX_ERR_MALFORMED (-2)       /* malformed DER, or a character outside Base64 */
#define KX_NOT_YET_VALID 2          /* check time earlier than the start of validity */
#define KX_EXPIRED 3                /* check time later than the end of validity */
#define KX_NO_REQUEST_ARMOUR 5      /* no request armour line in the text */
#define KX_ERR_LENGTH 100           /* a length or capacity check failed (Base64, JSON) */
#define KX_ERR_NO_OUTPUT_BUFFER 731 /* no output buffer (GetCertInfo, JSON) */

/* Largest input and capacity the Base64 codec accepts, in bytes. */
#define KX_BASE64_MAX_LENGTH 10000000

/* ---- DER elements --------------------------------------------------------
 * An element is one tag byte, a length field and the content. The length
 * field's first byte selects its form: 0x00..0x7F is the length itself;
 * 0x81, 0x82, 0x83 and 0x84 are followed by one, two, three and four length
 * bytes, most significant first; any other byte (0x80, 0x85..0xFF) is read
 * as a one-byte length of its own value (128, 133..255).
 *
 * Neither function receives the element's size: the caller vouches that the
 * whole element, as its header declares it, lies in readable memory.
 */

/* Returns the element's total encoded size: header plus content length. */
KESTRIX_API int32_t KESTRIX_CALL getcertlen(const unsigned char* element);

/* Hands out the element's value. The value is the content, except that for
 * an INTEGER (0x02) or BIT STRING (0x03) whose first content byte is 0x00
 * that one byte is left out. Writes the value length to *valueLen and the
 * element's total encoded size to *totalLen; copies the value to valueOut
 * unless it is null (no terminator; valueOut must hold *valueLen bytes).
 * Always returns KX_OK. */
KESTRIX_API int32_t KESTRIX_CALL getTVL(const unsigned char* element, unsigned char* valueOut,
                                        int32_t* valueLen, int32_t* totalLen);

/* ---- Certificates ----------------------------------------------------------
 * A certificate argument points at the outer SEQUENCE tag of a DER X.509
 * certificate; the caller vouches that the whole element its header declares
 * lies in readable memory.
 */

/* Largest TBSCertificate element and signature value CerExpand hands out. */
#define KX_MAX_TBS_SIZE 2048
#define KX_MAX_SIGNATURE_SIZE 300

/* Cuts a certificate into its signed part and its signature value. Copies
 * the whole TBSCertificate element (tag, length and content) to tbsOut and
 * its size to *tbsLen; copies the signature BIT STRING's content, less its
 * unused-bits byte when that is zero, to sigOut and its length to *sigLen.
 * tbsOut must hold KX_MAX_TBS_SIZE bytes and sigOut KX_MAX_SIGNATURE_SIZE;
 * larger parts are refused. Returns KX_OK, or KX_ERR_MALFORMED when the
 * framing is not as expected (a fault behind the TBS leaves the TBS outputs
 * written and the signature outputs untouched; a part too large for its
 * buffer leaves everything untouched). */
KESTRIX_API int32_t KESTRIX_CALL CerExpand(const unsigned char* certificate, unsigned char* tbsOut,
                                           int32_t* tbsLen, unsigned char* sigOut, int32_t* sigLen);

/* ---- Certificate items (GetCertInfo) ------------------------------------------
 * The item argument is an item code in its low 24 bits and a form byte in its
 * top 8 bits; only KX_ITEM_SERIAL_NUMBER reads the form byte.
 *
 * Output shapes:
 *   text   outBuf gets a NUL-terminated text in the process's ANSI code page,
 *          *lenOut its length without the NUL; *numOut stays 0. Absent: "".
 *   number *numOut gets the value; outBuf stays "" and *lenOut 0.
 *   bytes  outBuf gets *lenOut bytes, no terminator added.
 * The bracket after each code is the largest output it writes into outBuf,
 * terminator included. A buffer of KX_ITEM_BUFFER_SIZE bytes holds any item.
 * Codes not listed (4, 46..51, 56, 61..68, 92..99, above 118) are not in use:
 * they answer KX_OK with the outputs cleared.
 *
 * Names (issuer, subject, and a request's subject): every member of a
 * multi-valued RDN counts, as if it were an RDN of its own, in the order of
 * the encoding. A value is converted by its string type: UTF8String and
 * TeletexString read as UTF-8 (up to a NUL), BMPString as big-endian UTF-16,
 * UniversalString as big-endian 32-bit code points (the bytes of a partial
 * last one ignored; a surrogate or a value above U+10FFFF converts as an
 * unpaired surrogate does), any other type copied as its bytes. A value of
 * any length and type is cut to its field (below): no name value makes a
 * certificate or request fail.
 *
 * Repeats: an item answers one value. A name attribute that occurs more than
 * once answers its last occurrence (domainComponent: all of them, last first,
 * joined by ".", the joined text cut as one);
 * an alternative-name type, a distribution point or an OCSP location beyond
 * the ones an item names answers the last one; a repeated extension answers
 * the later one.
 *
 * Values larger than an item's field, by field:
 *   name texts [256], country [20]: cut at a character boundary to 255 (19)
 *           bytes.
 *   extension texts [256] (alternative names, private values): a value of
 *           255 bytes or more is not stored; the item answers the value
 *           before it, or "".
 *   distribution points and OCSP locations [350]: cut to their first 349 bytes.
 *   key identifiers [20]: one over 20 bytes answers nothing (*lenOut 0).
 *   authority serial: one over 9 bytes answers nothing.
 *   serial over 36 bytes, public key over 300 bytes: refused, KX_ERR_MALFORMED.
 */
#define KX_ITEM_BUFFER_SIZE 350

/* number: the version element's value plus one, whatever the value (1 for a
 * certificate without the element, 3 for v3). */
#define KX_ITEM_VERSION 0
/* serial [73]: lowercase hex text (2 characters a byte); with KX_FORM_HEX_UPPER
 * uppercase hex; with KX_FORM_RAW [37] the bytes followed by one zero byte,
 * *lenOut the byte count. *numOut: the serial's last four bytes as a number. */
#define KX_ITEM_SERIAL_NUMBER 1
#define KX_FORM_RAW 0x01000000u
#define KX_FORM_HEX_UPPER 0x02000000u
#define KX_ITEM_SIGNATURE_ALGORITHM 2      /* text [31], and *numOut the AlgCode */
#define KX_ITEM_SIGNATURE_ALGORITHM_NAME 3 /* text [31] */

/* Issuer name fields: text [256], KX_ITEM_ISSUER_COUNTRY [20]; each the last
 * occurrence of its attribute. */
#define KX_ITEM_ISSUER_COUNTRY 5
#define KX_ITEM_ISSUER_ORGANIZATION 6
#define KX_ITEM_ISSUER_ORGANIZATIONAL_UNIT 7
#define KX_ITEM_ISSUER_STATE_OR_PROVINCE 8
#define KX_ITEM_ISSUER_COMMON_NAME 9
#define KX_ITEM_ISSUER_LOCALITY 10
#define KX_ITEM_ISSUER_TITLE 11
#define KX_ITEM_ISSUER_SURNAME 12
#define KX_ITEM_ISSUER_GIVEN_NAME 13
#define KX_ITEM_ISSUER_INITIALS 14
#define KX_ITEM_ISSUER_EMAIL 15
#define KX_ITEM_ISSUER_POSTAL_ADDRESS 16
#define KX_ITEM_ISSUER_POST_OFFICE_BOX 17
#define KX_ITEM_ISSUER_POSTAL_CODE 18
#define KX_ITEM_ISSUER_TELEPHONE_NUMBER 19
#define KX_ITEM_ISSUER_TELEX_NUMBER 20

/* Validity: text [127], YYMMDDhhmmss (UTCTime) or YYYYMMDDhhmmss
 * (GeneralizedTime), the certificate's time without its final "Z". */
#define KX_ITEM_NOT_BEFORE 21
#define KX_ITEM_NOT_AFTER 22

/* Subject name fields: text [256], KX_ITEM_SUBJECT_COUNTRY [20]; each the last
 * occurrence of its attribute. */
#define KX_ITEM_SUBJECT_COUNTRY 23
#define KX_ITEM_SUBJECT_ORGANIZATION 24
#define KX_ITEM_SUBJECT_ORGANIZATIONAL_UNIT 25
#define KX_ITEM_SUBJECT_STATE_OR_PROVINCE 26
#define KX_ITEM_SUBJECT_COMMON_NAME 27
#define KX_ITEM_SUBJECT_LOCALITY 28
#define KX_ITEM_SUBJECT_TITLE 29
#define KX_ITEM_SUBJECT_SURNAME 30
#define KX_ITEM_SUBJECT_GIVEN_NAME 31
#define KX_ITEM_SUBJECT_INITIALS 32
#define KX_ITEM_SUBJECT_EMAIL 33 /* the subject's emailAddress, else the SAN rfc822Name */
#define KX_ITEM_SUBJECT_POSTAL_ADDRESS 34
#define KX_ITEM_SUBJECT_POST_OFFICE_BOX 35
#define KX_ITEM_SUBJECT_POSTAL_CODE 36
#define KX_ITEM_SUBJECT_TELEPHONE_NUMBER 37
#define KX_ITEM_SUBJECT_TELEX_NUMBER 38
#define KX_ITEM_SUBJECT_SERIAL_NUMBER 88 /* else the 1.3.6.1.4.1.5315.100.5.9 value */
#define KX_ITEM_SUBJECT_DESCRIPTION 89
#define KX_ITEM_SUBJECT_DOMAIN_COMPONENT 91 /* all of them, last first, joined by "." */
#define KX_ITEM_SUBJECT_NAME 117
#define KX_ITEM_SUBJECT_GENERATION_QUALIFIER 118

/* Subject public key: bytes [300], the key BIT STRING's content (for RSA
 * the DER RSAPublicKey); *numOut the length too. A key over 300 bytes is
 * refused with KX_ERR_MALFORMED. */
#define KX_ITEM_PUBLIC_KEY 39
#define KX_ITEM_PUBLIC_KEY_AGAIN 40  /* the same as KX_ITEM_PUBLIC_KEY */
#define KX_ITEM_ISSUER_UNIQUE_ID 41  /* bytes [126] */
#define KX_ITEM_SUBJECT_UNIQUE_ID 42 /* bytes [126] */

/* Extensions. */
#define KX_ITEM_SAN_EMAIL 43 /* text [256]: the SAN rfc822Name, else the subject's emailAddress */
#define KX_ITEM_KEY_USAGE \
  44 /* number: bits 0x8000 digitalSignature .. 0x0080 decipherOnly; -1 absent */
/* text [350]: the first URI of the first distribution point that has one */
#define KX_ITEM_CRL_DISTRIBUTION_POINT_1 45
#define KX_ITEM_CRL_DISTRIBUTION_POINT_2 79 /* text [350]: the last of the later points */
#define KX_ITEM_AUTHORITY_KEY_ID 75         /* bytes [20]; 20 zero bytes when absent */
#define KX_ITEM_SUBJECT_KEY_ID 76           /* bytes [20]; 20 zero bytes when absent */
#define KX_ITEM_OCSP_URL_1 77               /* text [350] */
#define KX_ITEM_OCSP_URL_2 78               /* text [350]: the last of the later OCSP locations */
#define KX_ITEM_BASIC_CONSTRAINTS_CA 80     /* number: 1 for a CA */
#define KX_ITEM_NETSCAPE_CERT_TYPE 86       /* number: the type bits in the high byte */
#define KX_ITEM_AUTHORITY_CERT_SERIAL 87    /* lowercase hex text [19] */
#define KX_ITEM_SAN_URI 112          /* text [256]; also an otherName with a 10-byte type id */
#define KX_ITEM_IAN_EMAIL 113        /* text [256] */
#define KX_ITEM_IAN_URI 114          /* text [256] */
#define KX_ITEM_RESERVED_TEXT 115    /* text: always "" */
#define KX_ITEM_SAN_OTHER_NAME_9 116 /* bytes [254]: otherName with a 9-byte type id */

/* Private extensions: text [256] (KX_ITEM_X5315_100_2_2 a number, -1 absent). */
#define KX_ITEM_X5315_100_5_1 52
#define KX_ITEM_X5315_100_5_2 53
#define KX_ITEM_X5315_100_5_3 54
#define KX_ITEM_X5315_100_2_3 55
#define KX_ITEM_X5315_100_2_4 57
#define KX_ITEM_X5315_100_5_4 58 /* shared with the SAN dNSName: the later one */
#define KX_ITEM_SAN_DNS_NAME KX_ITEM_X5315_100_5_4
/* Shared with the SAN iPAddress, the later one: an address answers its 4 or 16
 * octets, zero octets included, *lenOut the octet count (a NUL follows). */
#define KX_ITEM_X5315_100_5_5 59
#define KX_ITEM_SAN_IP_ADDRESS KX_ITEM_X5315_100_5_5
#define KX_ITEM_X5315_100_5_6 60
#define KX_ITEM_X5315_100_5_8 69
#define KX_ITEM_X5315_100_5_9 70
#define KX_ITEM_X5315_100_5_11 71
#define KX_ITEM_X5315_100_5_12 72
#define KX_ITEM_X5315_100_2_2 73
#define KX_ITEM_X5315_100_2_1 74
#define KX_ITEM_X86_11_7_1 81
#define KX_ITEM_X86_11_7_2 82
#define KX_ITEM_X86_11_7_3 83
#define KX_ITEM_X86_11_7_4 84
#define KX_ITEM_X86_11_7_5 85
#define KX_ITEM_X113731_29 90
#define KX_ITEM_X113731_9 100
#define KX_ITEM_X113731_10 101
#define KX_ITEM_X113731_11 102
#define KX_ITEM_X113731_14 103
#define KX_ITEM_X113731_15 104
#define KX_ITEM_X113731_16 105
#define KX_ITEM_X113731_17 106
#define KX_ITEM_X113731_22 107
#define KX_ITEM_X113731_23 108
#define KX_ITEM_X113731_24 109
#define KX_ITEM_X113731_25 110
#define KX_ITEM_X113731_29_AGAIN 111 /* the same as KX_ITEM_X113731_29 */

/* Answers one item of the certificate at cert (certLen is not read: the
 * certificate's own lengths bound the decoding). Clears outBuf[0], *numOut
 * and *lenOut, decodes the whole certificate and writes the item. Returns
 * KX_OK (also for an item the certificate does not carry, or a code not in
 * use), KX_ERR_MALFORMED, or KX_ERR_NO_OUTPUT_BUFFER when outBuf is null
 * (nothing written). numOut and lenOut must not be null. */
KESTRIX_API int32_t KESTRIX_CALL GetCertInfo(int32_t certLen, const unsigned char* cert,
                                             uint32_t item, int32_t* numOut, int32_t* lenOut,
                                             char* outBuf);

/* The RSA modulus of the certificate's key, most significant byte first,
 * without a sign byte: keyOut must hold KX_MAX_MODULUS_SIZE bytes (a 2048-bit
 * key writes 256).
 * Returns KX_OK, GetCertInfo's status (after the line "GetCertInfo" on
 * standard output), or KX_ERR_MALFORMED with nothing written for a key that
 * is not an RSAPublicKey (DSA, EC, Ed25519). */
#define KX_MAX_MODULUS_SIZE 292
KESTRIX_API int32_t KESTRIX_CALL GetUsrPubKey(const unsigned char* cert, unsigned char* keyOut,
                                              int32_t* keyLen);

/* Checks that checkTime (YYYYMMDDhhmmss, UTC; null for the current time)
 * lies inside the certificate's validity period, bounds included, and then
 * hands out the TBS element and the signature value as CerExpand does.
 * Returns KX_OK, KX_NOT_YET_VALID, KX_EXPIRED (outputs untouched), or
 * KX_ERR_MALFORMED (a certificate that does not decode, a validity text that
 * is not 12 or 14 digits, a checkTime that does not begin with 14 digits, or
 * parts larger than the buffers). */
KESTRIX_API int32_t KESTRIX_CALL GetPreCertVerified(int32_t certLen, const unsigned char* cert,
                                                    const char* checkTime, int32_t* tbsLen,
                                                    unsigned char* tbsOut, int32_t* sigLen,
                                                    unsigned char* sigOut);

/* ---- Certificate requests ------------------------------------------------------
 * RC_decodep10pemtxt fills a P10RequestInfo: its layout is fixed (1860
 * bytes, no gaps, the integer little-endian on every platform the library
 * ships for), so callers built by any compiler share it.
 */
typedef struct P10RequestInfo {
  unsigned char publicKey[300]; /* the subject public key (for RSA the DER RSAPublicKey) */
  int32_t publicKeyLen;         /* valid bytes in publicKey */
  char country[20];             /* subject fields: NUL-terminated, ANSI code page */
  char organization[256];
  char organizationalUnit[256];
  char stateOrProvince[256];
  char commonName[256];
  char locality[256];
  char email[256];
} P10RequestInfo;

#if defined(__cplusplus)
#define KX_LAYOUT_CHECK(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KX_LAYOUT_CHECK(cond, name) _Static_assert(cond, #name)
#else
#define KX_LAYOUT_CHECK(cond, name) typedef char kx_layout_check_##name[(cond) ? 1 : -1]
#endif
KX_LAYOUT_CHECK(sizeof(P10RequestInfo) == 1860, p10_size);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, publicKeyLen) == 300, p10_public_key_len);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, country) == 304, p10_country);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, organization) == 324, p10_organization);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, organizationalUnit) == 580, p10_organizational_unit);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, stateOrProvince) == 836, p10_state_or_province);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, commonName) == 1092, p10_common_name);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, locality) == 1348, p10_locality);
KX_LAYOUT_CHECK(offsetof(P10RequestInfo, email) == 1604, p10_email);
#undef KX_LAYOUT_CHECK

/* Decodes the PEM PKCS#10 request in the NUL-terminated text: finds the
 * "-----BEGIN NEW CERTIFICATE REQUEST-----" armour line (anywhere in the
 * text), else "-----BEGIN CERTIFICATE REQUEST-----", gathers the Base64
 * lines below it (carriage returns left out, each line at most 88 bytes
 * with its line feed) up to a line beginning with "-", decodes and parses
 * the request, and fills *record. size is the room of each of the two work
 * buffers: at least the number of Base64 characters and the capacity
 * PemToDer needs for them; the length of the whole text always suffices.
 * Returns KX_OK, KX_NO_REQUEST_ARMOUR, KX_ERR_LENGTH (the sizes, or an empty
 * body), KX_ERR_MALFORMED (a character outside Base64, a malformed request,
 * a key or signature over 300 bytes), or KX_ERR_NO_MEMORY; on every failure
 * *record is left as it was. A few failures also print a diagnostic line on
 * standard output. */
KESTRIX_API int32_t KESTRIX_CALL RC_decodep10pemtxt(const char* text, int32_t size,
                                                    P10RequestInfo* record);

/* ---- Base64 ---------------------------------------------------------------
 * Standard alphabet (RFC 4648) with "=" padding; no armour, no line breaks.
 * *capacity holds the output buffer's size on entry and the count written
 * on success. Outputs are not NUL-terminated and nothing is written past
 * the count. Lengths and capacities must lie in 1..KX_BASE64_MAX_LENGTH,
 * else KX_ERR_LENGTH and nothing is written.
 */

/* Encodes derLen bytes. Needs capacity 4 * ceil(derLen / 3), which is also
 * the count written. Returns KX_OK or KX_ERR_LENGTH. */
KESTRIX_API int32_t KESTRIX_CALL DerToPem(const unsigned char* der, int32_t derLen, char* pem,
                                          int32_t* pemLen);

/* Decodes pemLen characters (a multiple of 4). Needs capacity
 * 3 * ceil(pemLen / 4) even when the text is padded; writes
 * 3 * pemLen / 4 bytes less one per "=" of padding. Returns KX_OK,
 * KX_ERR_LENGTH, or KX_ERR_MALFORMED for a character outside the alphabet
 * (or a length that is not a multiple of 4); after KX_ERR_MALFORMED, bytes of
 * the groups before the bad character may stand in the buffer and *derLen is
 * unchanged. */
KESTRIX_API int32_t KESTRIX_CALL PemToDer(const char* pem, int32_t pemLen, unsigned char* der,
                                          int32_t* derLen);

/* DerToPem with the output arguments first. */
KESTRIX_API int32_t KESTRIX_CALL EncodePEMBlock(char* pem, int32_t* pemLen,
                                                const unsigned char* der, int32_t derLen);

/* PemToDer with the output arguments first. */
KESTRIX_API int32_t KESTRIX_CALL DecodePEMBlock(unsigned char* der, int32_t* derLen,
                                                const char* pem, int32_t pemLen);

/* ---- JSON documents -----------------------------------------------------------
 * A certificate or a request as one UTF-8 JSON document (RFC 8259) holding
 * every field, read as plain DER (none of the item queries' readings); its
 * members are described in docs/json.md. A document always begins with
 * {"kestrix_document":2. Both functions read only [input, input + inputLen)
 * and write only [out, out + capacity). CertificateToJson allocates nothing;
 * RequestToJson allocates one block, for a PEM text only, to decode it in.
 *
 * *length receives the document's length in bytes, terminator not counted,
 * whatever the capacity. The document is written when it fits (capacity >=
 * *length), followed by a NUL when there is room for one (capacity >
 * *length). A capacity of 0, out then possibly null, asks for the length
 * alone; a negative capacity counts as 0. Returns, the first that applies:
 *   KX_ERR_NO_OUTPUT_BUFFER  length is null, or out is null with a capacity
 *                            above 0: nothing written (*length 0).
 *   KX_ERR_MALFORMED         input is null or inputLen negative: nothing
 *                            written (*length 0).
 *   KX_ERR_NO_MEMORY         RequestToJson could not allocate the block for
 *                            a PEM text: nothing written (*length 0).
 *   KX_ERR_LENGTH            the document does not fit: call again with a
 *                            capacity of *length + 1. out holds its first
 *                            capacity bytes. (A document longer than
 *                            INT32_MAX bytes never fits; *length is then
 *                            INT32_MAX.)
 *   KX_ERR_MALFORMED         the input's framing is broken: out holds a small
 *                            document whose "error" member says what broke
 *                            and whose "offset" member where.
 *   KX_OK                    out holds the document.
 */

/* The document of the DER certificate at input (its outer element; bytes
 * behind it are ignored). */
KESTRIX_API int32_t KESTRIX_CALL CertificateToJson(const unsigned char* input, int32_t inputLen,
                                                   char* out, int32_t capacity, int32_t* length);

/* The document of a PKCS#10 request given as DER, or as PEM text in either
 * request armour ("CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST"); the text
 * needs no terminator. */
KESTRIX_API int32_t KESTRIX_CALL RequestToJson(const unsigned char* input, int32_t inputLen,
                                               char* out, int32_t capacity, int32_t* length);

#ifdef __cplusplus
}
#endif

#endif /* KESTRIX_H */
