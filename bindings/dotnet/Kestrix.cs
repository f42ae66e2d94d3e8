// A small safe layer over KestrixNative: certificates and requests with .NET
// types, the framing of every element checked before the library reads it
// (the library receives no sizes), and KestrixException on a refusal.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Text;

namespace Kestrix
{
    public class KestrixException : Exception
    {
        public int Status { get; }

        public KestrixException(string message, int status = KestrixNative.KX_ERR_MALFORMED)
            : base(message)
        {
            Status = status;
        }

        internal static void Check(string function, int status)
        {
            if (status != KestrixNative.KX_OK)
                throw new KestrixException(function + " returned " + status, status);
        }
    }

    public sealed class Certificate
    {
        public byte[] Der { get; }

        // The DER element's total size as the library reads its header (one
        // tag byte; 0x81..0x84 and that many length bytes, else the byte
        // itself), checked to lie inside the bytes.
        public static int ElementSize(byte[] data, int offset = 0)
        {
            if (data == null || offset < 0 || data.Length - offset < 2)
                throw new KestrixException("no DER header");
            int first = data[offset + 1];
            int extra = first >= 0x81 && first <= 0x84 ? first - 0x80 : 0;
            if (data.Length - offset < 2 + extra) throw new KestrixException("the header runs past the bytes");
            long length = extra == 0 ? first : 0;
            for (int i = 0; i < extra; i++) length = length << 8 | data[offset + 2 + i];
            long total = 2 + extra + length;
            if (total > data.Length - offset)
                throw new KestrixException("the element declares " + total + " bytes, " + (data.Length - offset) + " present");
            return (int)total;
        }

        public Certificate(byte[] der)
        {
            if (ElementSize(der) != der.Length) throw new KestrixException("bytes after the certificate");
            Der = (byte[])der.Clone();
        }

        public static Certificate FromPem(string pem)
        {
            const string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
            int from = pem.IndexOf(begin, StringComparison.Ordinal);
            int to = from < 0 ? -1 : pem.IndexOf(end, from, StringComparison.Ordinal);
            if (to < 0) throw new KestrixException("no CERTIFICATE block");
            return new Certificate(Base64.Decode(pem.Substring(from + begin.Length, to - from - begin.Length)));
        }

        private byte[] Ask(uint item, out int number)
        {
            var buffer = new byte[KestrixNative.KX_ITEM_BUFFER_SIZE];
            KestrixException.Check("GetCertInfo",
                KestrixNative.GetCertInfo(Der.Length, Der, item, out number, out int length, buffer));
            if (length < 0 || length > buffer.Length) throw new KestrixException("GetCertInfo answered a length of " + length);
            Array.Resize(ref buffer, length);
            return buffer;
        }

        // A text item, in the ANSI code page the library writes.
        public string Text(uint item) => Encoding.Default.GetString(Ask(item, out _));
        public int Number(uint item) { Ask(item, out int number); return number; }
        public byte[] Bytes(uint item) => Ask(item, out _);

        public string SubjectCommonName => Text(KestrixNative.KX_ITEM_SUBJECT_COMMON_NAME);
        public string IssuerCommonName => Text(KestrixNative.KX_ITEM_ISSUER_COMMON_NAME);
        public string SerialNumber => Text(KestrixNative.KX_ITEM_SERIAL_NUMBER);
        public DateTime NotBefore => Time(Text(KestrixNative.KX_ITEM_NOT_BEFORE));
        public DateTime NotAfter => Time(Text(KestrixNative.KX_ITEM_NOT_AFTER));
        public bool IsCA => Number(KestrixNative.KX_ITEM_BASIC_CONSTRAINTS_CA) == 1;
        public byte[] PublicKey => Bytes(KestrixNative.KX_ITEM_PUBLIC_KEY);

        public byte[] RsaModulus
        {
            get
            {
                var key = new byte[KestrixNative.KX_MAX_MODULUS_SIZE];
                KestrixException.Check("GetUsrPubKey", KestrixNative.GetUsrPubKey(Der, key, out int length));
                Array.Resize(ref key, length);
                return key;
            }
        }

        // Whether the UTC time lies in the validity period.
        public bool ValidAt(DateTime utc)
        {
            var tbs = new byte[KestrixNative.KX_MAX_TBS_SIZE];
            var sig = new byte[KestrixNative.KX_MAX_SIGNATURE_SIZE];
            int status = KestrixNative.GetPreCertVerified(Der.Length, Der,
                utc.ToString("yyyyMMddHHmmss", CultureInfo.InvariantCulture), out _, tbs, out _, sig);
            if (status == KestrixNative.KX_NOT_YET_VALID || status == KestrixNative.KX_EXPIRED) return false;
            KestrixException.Check("GetPreCertVerified", status);
            return true;
        }

        private static DateTime Time(string text)
        {
            if (text.Length == 12) text = (int.Parse(text.Substring(0, 2)) >= 50 ? "19" : "20") + text;
            return DateTime.ParseExact(text, "yyyyMMddHHmmss", CultureInfo.InvariantCulture,
                DateTimeStyles.AssumeUniversal | DateTimeStyles.AdjustToUniversal);
        }
    }

    public sealed class Request
    {
        public IDictionary<string, string> Subject { get; } = new Dictionary<string, string>();
        public byte[] PublicKey { get; private set; }

        public static unsafe Request Decode(string pem)
        {
            if (pem.IndexOf('\0') >= 0) throw new KestrixException("a NUL byte in the text");
            KestrixException.Check("RC_decodep10pemtxt",
                KestrixNative.RC_decodep10pemtxt(pem, pem.Length, out P10RequestInfo record));
            if (record.publicKeyLen < 0 || record.publicKeyLen > 300) throw new KestrixException("a key length out of range");
            var request = new Request { PublicKey = new byte[record.publicKeyLen] };
            for (int i = 0; i < record.publicKeyLen; i++) request.PublicKey[i] = record.publicKey[i];
            request.Add("countryName", record.country, 20);
            request.Add("organizationName", record.organization, 256);
            request.Add("organizationalUnitName", record.organizationalUnit, 256);
            request.Add("stateOrProvinceName", record.stateOrProvince, 256);
            request.Add("commonName", record.commonName, 256);
            request.Add("localityName", record.locality, 256);
            request.Add("emailAddress", record.email, 256);
            return request;
        }

        private unsafe void Add(string name, byte* field, int size)
        {
            int length = 0;
            while (length < size && field[length] != 0) length++;
            if (length > 0) Subject[name] = Encoding.Default.GetString(field, length);
        }
    }

    public static class Base64
    {
        public static string Encode(byte[] data)
        {
            if (data.Length == 0) return "";
            var text = new byte[4 * ((data.Length + 2) / 3)];
            int size = text.Length;
            KestrixException.Check("DerToPem", KestrixNative.DerToPem(data, data.Length, text, ref size));
            return Encoding.ASCII.GetString(text, 0, size);
        }

        public static byte[] Decode(string text)
        {
            var body = new StringBuilder();
            foreach (char c in text) if (!char.IsWhiteSpace(c)) body.Append(c);
            if (body.Length == 0) return new byte[0];
            var data = new byte[3 * ((body.Length + 3) / 4)];
            int size = data.Length;
            KestrixException.Check("PemToDer", KestrixNative.PemToDer(body.ToString(), body.Length, data, ref size));
            Array.Resize(ref data, size);
            return data;
        }
    }
}
