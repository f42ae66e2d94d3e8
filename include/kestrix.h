/*
 * kestrix: decoding of DER X.509 certificates and PKCS#10 requests, and a
 * Base64 codec for PEM bodies.
 *
 * Plain C (C99 and C++). Every export uses the KESTRIX_CALL convention
 * (stdcall on 32-bit Windows) and 32-bit integers. The library keeps no
 * state: every call may run on any thread at once on separate buffers.
 * No export receives an output capacity unless its argument list says so;
 * each prototype below states how large its outputs can be.
 */
#ifndef KESTRIX_H
#define KESTRIX_H

#include <stdint.h>

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
#define KX_ERR_LENGTH 100           /* a Base64 length or capacity check failed */
#define KX_ERR_NO_OUTPUT_BUFFER 731 /* GetCertInfo was given no output buffer */

/* Largest input and capacity the Base64 codec accepts, in bytes. */
#define KX_BASE64_MAX_LENGTH 10000000

/* ---- DER elements --------------------------------------------------------
 * An element is one tag byte, a length field and the content. The length
 * field's first byte selects its form: 0x00..0x7F is the length itself;
 * 0x81, 0x82 and 0x84 are followed by one, two and four length bytes, most
 * significant first; any other byte (0x80, 0x83, 0x85..0xFF) is read as a
 * one-byte length of its own value (128, 131, 133..255).
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

#ifdef __cplusplus
}
#endif

#endif /* KESTRIX_H */
