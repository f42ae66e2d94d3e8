// A small safe layer over KestrixNative. Certificates and requests are read
// from the library's JSON document (CertificateToJson, RequestToJson;
// docs/json.md, version 2): every field whole, texts UTF-8 whatever the
// locale. The item queries (Text, Number, Bytes) stay for callers of the
// fixed-size exports, the framing of a certificate is checked before the
// library reads it, and a refusal throws KestrixException.
// Compile with -r:System.Runtime.Serialization -r:System.Xml -r:System.Xml.Linq.
using System;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.Globalization;
using System.Linq;
using System.Runtime.Serialization.Json;
using System.Text;
using System.Xml;
using System.Xml.Linq;

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

    // Reading the library's documents. The JSON is read as the XML that
    // JsonReaderWriterFactory makes of it: a member is an element of its
    // name (the documents' member names are all plain XML names), an array's
    // values are <item> elements.
    internal static class DocumentJson
    {
        internal delegate int Writer(byte[] input, int inputLen, byte[] output, int capacity, out int length);

        // The UTF-8 document the writer makes of the input; asked again, once,
        // with the capacity a first answer of KX_ERR_LENGTH names.
        internal static byte[] Write(string function, Writer writer, byte[] input)
        {
            if (input == null) throw new ArgumentNullException(nameof(input));
            var buffer = new byte[8192];  // most documents are 2 to 4 KB
            int status = writer(input, input.Length, buffer, buffer.Length, out int length);
            if (status == KestrixNative.KX_ERR_LENGTH && length < int.MaxValue)
            {
                buffer = new byte[length + 1];
                status = writer(input, input.Length, buffer, buffer.Length, out length);
            }
            if (status == KestrixNative.KX_ERR_MALFORMED && length > 0 && length < buffer.Length)
            {
                var fault = Parse(buffer, length);
                throw new KestrixException(function + ": " + Text(fault, "error") + " at offset " + Text(fault, "offset"));
            }
            KestrixException.Check(function, status);
            if (length < 0 || length > buffer.Length) throw new KestrixException(function + " answered a length of " + length);
            Array.Resize(ref buffer, length);
            return buffer;
        }

        internal static XElement Parse(byte[] utf8, int count)
        {
            using (var reader = JsonReaderWriterFactory.CreateJsonReader(utf8, 0, count, XmlDictionaryReaderQuotas.Max))
                return XElement.Load(reader);
        }

        internal static string Text(XElement e, string member) => (string)e?.Element(member);
        internal static IEnumerable<XElement> Items(XElement e, string member) =>
            e?.Element(member)?.Elements() ?? Enumerable.Empty<XElement>();
        // An OID member's name, else its dotted OID (else the hex of an ill-formed one).
        internal static string OidName(XElement e) => Text(e, "name") ?? Text(e, "oid") ?? Text(e, "oidHex");

        // A count; one too large for a JSON number (written in hex) as `large`.
        internal static int? Number(XElement e, int large) =>
            e == null ? (int?)null : int.TryParse(e.Value, NumberStyles.None, CultureInfo.InvariantCulture, out int n) ? n : large;

        internal static byte[] Hex(string text)
        {
            var bytes = new byte[(text ?? "").Length / 2];
            for (int i = 0; i < bytes.Length; i++) bytes[i] = Convert.ToByte(text.Substring(2 * i, 2), 16);
            return bytes;
        }
    }

    // An object of a library document (a name's attribute, a general name, an
    // extension, a key), read from its element when asked.
    public abstract class DocumentNode
    {
        internal XElement Element { get; }
        internal DocumentNode(XElement element) { Element = element; }
        internal string Member(string name) => DocumentJson.Text(Element, name);
    }

    // A name's attribute: dotted OID, name (commonName; null for an OID the
    // library does not name), string type (UTF8String, ...) and the text, or
    // for a value that is no string ValueHex alone.
    public sealed class NameAttribute : DocumentNode
    {
        internal NameAttribute(XElement e) : base(e) { }
        public string Oid => Member("oid") ?? Member("oidHex");
        public string Name => Member("name");
        public string Type => Member("type");
        public string Value => Member("value");
        public string ValueHex => Member("valueHex");
    }

    // A distinguished name. As a dictionary it answers an attribute's name (else
    // dotted OID) with its last text, the one the RFC 4514 string puts first;
    // Attributes holds every attribute in the encoding's order.
    public sealed class DistinguishedName : ReadOnlyDictionary<string, string>
    {
        public string Rfc4514 { get; }
        public IReadOnlyList<NameAttribute> Attributes { get; }

        internal DistinguishedName(XElement name) : base(new Dictionary<string, string>())
        {
            Attributes = DocumentJson.Items(name, "rdns").SelectMany(rdn => rdn.Elements())
                .Select(a => new NameAttribute(a)).ToList().AsReadOnly();
            foreach (var a in Attributes.Where(a => a.Value != null)) Dictionary[a.Name ?? a.Oid] = a.Value;
            Rfc4514 = DocumentJson.Text(name, "rfc4514") ?? "";
        }

        public override string ToString() => Rfc4514;
    }

    // A general name: Type (DNS, email, URI, IP, dirName, RID, otherName,
    // x400Address, ediPartyName) and Value: the text (IP: dotted IPv4 or RFC 5952
    // IPv6; RID: a dotted OID), a dirName's RFC 4514 string (the name itself in
    // DirectoryName), else hex (an otherName's type in Oid).
    public sealed class GeneralName : DocumentNode
    {
        internal GeneralName(XElement e) : base(e) { }
        public string Type => Member("type");
        public string Oid => Member("oid");
        public DistinguishedName DirectoryName => Type == "dirName" ? new DistinguishedName(Element.Element("value")) : null;
        public string Value => DirectoryName?.Rfc4514 ?? Member("value");
        public override string ToString() => Type + ":" + Value;
    }

    // An extension: Value is its OCTET STRING's content in hex; Error says why
    // the library could not read the value (null when it could).
    public sealed class Extension : DocumentNode
    {
        internal Extension(XElement e) : base(e) { }
        public string Oid => Member("oid") ?? Member("oidHex");
        public string Name => Member("name");
        public bool Critical => Member("critical") == "true";
        public string Value => Member("value");
        public string Error => Member("error");
    }

    // The subjectPublicKeyInfo: the algorithm's name (else OID), the size in
    // bits (RSA modulus, EC curve, DSA p, EdDSA; null where the library knows
    // none), a named curve's name (else OID), the BIT STRING's bits (Key).
    public sealed class PublicKeyInfo : DocumentNode
    {
        internal PublicKeyInfo(XElement e) : base(e) { }
        public string Algorithm => DocumentJson.OidName(Element?.Element("algorithm"));
        public string AlgorithmOid => DocumentJson.Text(Element?.Element("algorithm"), "oid");
        public int? Bits => DocumentJson.Number(Element?.Element("bits"), int.MaxValue);
        public string Curve => Element?.Element("curve") == null ? null : DocumentJson.OidName(Element.Element("curve"));
        public byte[] Key => DocumentJson.Hex(Member("key"));
    }

    // What certificates and requests share: the document (Json, as the
    // library wrote it) and the readings of its extensions (a request's are
    // those of its extension request).
    public abstract class Document : DocumentNode
    {
        public string Json { get; }
        public DistinguishedName Subject { get; }
        public IReadOnlyList<Extension> Extensions { get; }

        internal Document(byte[] json) : base(DocumentJson.Parse(json, json.Length))
        {
            Json = Encoding.UTF8.GetString(json);
            Subject = new DistinguishedName(Element.Element("subject"));
            var list = Element.Element("extensions") ?? DocumentJson.Items(Element, "attributes")
                .Where(a => DocumentJson.Text(a, "oid") == "1.2.840.113549.1.9.14")
                .SelectMany(a => DocumentJson.Items(a, "values")).Select(v => v.Element("extensions"))
                .FirstOrDefault(e => e != null);
            Extensions = (list?.Elements() ?? Enumerable.Empty<XElement>()).Select(e => new Extension(e)).ToList().AsReadOnly();
        }

        public int Version => DocumentJson.Number(Element.Element("version"), 0) ?? 0;
        public PublicKeyInfo PublicKeyInfo => new PublicKeyInfo(Element.Element("subjectPublicKeyInfo"));
        public byte[] PublicKey => PublicKeyInfo.Key;
        // The signature algorithm's name (sha256WithRSAEncryption), else its dotted OID.
        public string SignatureAlgorithm => DocumentJson.OidName(Element.Element("signatureAlgorithm"));

        // The RSA key's modulus without a sign byte, any size.
        public byte[] RsaModulus
        {
            get
            {
                var info = PublicKeyInfo;
                if (info.AlgorithmOid != "1.2.840.113549.1.1.1" && info.AlgorithmOid != "1.2.840.113549.1.1.10")
                    throw new KestrixException("a " + info.Algorithm + " key has no modulus");
                byte[] key = info.Key;  // RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
                int at = Header(key, 0, 0x30), start = at + Header(key, at, 0x02), end = at + Certificate.ElementSize(key, at);
                if (end - start > 1 && key[start] == 0) start++;
                return key.Skip(start).Take(end - start).ToArray();
            }
        }

        // The header size of the DER element at data[at], which must carry the tag and lie inside the bytes.
        private static int Header(byte[] data, int at, int tag)
        {
            Certificate.ElementSize(data, at);
            if (data[at] != tag) throw new KestrixException("no element of tag " + tag + " at offset " + at);
            return data[at + 1] >= 0x81 && data[at + 1] <= 0x84 ? data[at + 1] - 0x7E : 2;
        }

        // The first extension of the OID that the library read; null without one.
        private XElement Find(string oid) => Extensions.FirstOrDefault(e => e.Oid == oid && e.Error == null)?.Element;

        // Every subjectAltName entry in order; empty without the extension.
        public IReadOnlyList<GeneralName> SubjectAltNames =>
            DocumentJson.Items(Find("2.5.29.17"), "names").Select(n => new GeneralName(n)).ToList().AsReadOnly();

        // The keyUsage bits set (digitalSignature, keyCertSign, ...); null without the extension.
        public IReadOnlyList<string> KeyUsage => Find("2.5.29.15") == null ? null
            : DocumentJson.Items(Find("2.5.29.15"), "usages").Select(u => u.Value).ToList().AsReadOnly();

        // The key purposes by name (serverAuth, ...), else dotted OID; null without the extension.
        public IReadOnlyList<string> ExtendedKeyUsage => Find("2.5.29.37") == null ? null
            : DocumentJson.Items(Find("2.5.29.37"), "purposes").Select(DocumentJson.OidName).ToList().AsReadOnly();

        public bool IsCA => DocumentJson.Text(Find("2.5.29.19"), "cA") == "true";
        // basicConstraints' pathLenConstraint; null when absent.
        public int? PathLength => DocumentJson.Number(Find("2.5.29.19")?.Element("pathLenConstraint"), int.MaxValue);

        // Every URI of every CRL distribution point's full name, in order.
        public IReadOnlyList<string> CrlDistributionPoints =>
            DocumentJson.Items(Find("2.5.29.31"), "points").SelectMany(p => DocumentJson.Items(p, "fullName"))
                .Where(n => DocumentJson.Text(n, "type") == "URI").Select(n => DocumentJson.Text(n, "value")).ToList().AsReadOnly();

        // The authorityInfoAccess URLs of OCSP responders and of the issuer's certificates.
        public IReadOnlyList<string> OcspUrls => AccessUrls("1.3.6.1.5.5.7.48.1");
        public IReadOnlyList<string> CaIssuersUrls => AccessUrls("1.3.6.1.5.5.7.48.2");

        private IReadOnlyList<string> AccessUrls(string method) =>
            DocumentJson.Items(Find("1.3.6.1.5.5.7.1.1"), "descriptions")
                .Where(d => DocumentJson.Text(d.Element("method"), "oid") == method)
                .Select(d => d.Element("location")).Where(l => DocumentJson.Text(l, "type") == "URI")
                .Select(l => DocumentJson.Text(l, "value")).ToList().AsReadOnly();
    }

    public sealed class Certificate : Document
    {
        public byte[] Der { get; }
        public DistinguishedName Issuer { get; }

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
            : base(DocumentJson.Write("CertificateToJson", KestrixNative.CertificateToJson, Framed(der)))
        {
            Der = (byte[])der.Clone();
            Issuer = new DistinguishedName(Element.Element("issuer"));
        }

        private static byte[] Framed(byte[] der)
        {
            if (ElementSize(der) != der.Length) throw new KestrixException("bytes after the certificate");
            return der;
        }

        public static Certificate FromPem(string pem)
        {
            const string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
            int from = pem.IndexOf(begin, StringComparison.Ordinal);
            int to = from < 0 ? -1 : pem.IndexOf(end, from, StringComparison.Ordinal);
            if (to < 0) throw new KestrixException("no CERTIFICATE block");
            return new Certificate(Base64.Decode(pem.Substring(from + begin.Length, to - from - begin.Length)));
        }

        // The serial in lowercase hex, without the sign byte a positive serial leads with.
        public string SerialNumber => Member("serialNumber");
        public string SubjectCommonName => Subject.TryGetValue("commonName", out string name) ? name : "";
        public string IssuerCommonName => Issuer.TryGetValue("commonName", out string name) ? name : "";

        // The validity as the document writes it: ISO 8601 UTC, or the time's
        // own text where it is neither UTCTime nor GeneralizedTime.
        public string NotBeforeText => DocumentJson.Text(Element.Element("validity"), "notBefore");
        public string NotAfterText => DocumentJson.Text(Element.Element("validity"), "notAfter");
        public DateTime NotBefore => Time(NotBeforeText);
        public DateTime NotAfter => Time(NotAfterText);

        // Whether the time (UTC; a local time is converted) lies in the
        // validity period, both ends included, to the second.
        public bool ValidAt(DateTime when)
        {
            if (when.Kind == DateTimeKind.Local) when = when.ToUniversalTime();
            when = new DateTime(when.Ticks - when.Ticks % TimeSpan.TicksPerSecond, DateTimeKind.Utc);
            return NotBefore <= when && when <= NotAfter;
        }

        private static DateTime Time(string text)
        {
            if (!DateTime.TryParseExact(text, new[] { "yyyy-MM-dd'T'HH:mm:ss'Z'", "yyyy-MM-dd'T'HH:mm:ss.FFFFFFF'Z'" },
                    CultureInfo.InvariantCulture, DateTimeStyles.AssumeUniversal | DateTimeStyles.AdjustToUniversal, out DateTime time))
                throw new KestrixException("a validity time that is no date: " + text);
            return time;
        }

        // The item queries (KX_ITEM_*), fixed-size fields as the library keeps
        // them; a text in the ANSI code page the library writes.
        private byte[] Ask(uint item, out int number)
        {
            var buffer = new byte[KestrixNative.KX_ITEM_BUFFER_SIZE];
            KestrixException.Check("GetCertInfo",
                KestrixNative.GetCertInfo(Der.Length, Der, item, out number, out int length, buffer));
            if (length < 0 || length > buffer.Length) throw new KestrixException("GetCertInfo answered a length of " + length);
            Array.Resize(ref buffer, length);
            return buffer;
        }

        public string Text(uint item) => Encoding.Default.GetString(Ask(item, out _));
        public int Number(uint item) { Ask(item, out int number); return number; }
        public byte[] Bytes(uint item) => Ask(item, out _);
    }

    public sealed class Request : Document
    {
        // A request given as DER, or as PEM text in either request armour.
        public Request(byte[] data)
            : base(DocumentJson.Write("RequestToJson", KestrixNative.RequestToJson, data))
        {
        }

        public static Request Decode(string pem)
        {
            if (pem.IndexOf("-----BEGIN CERTIFICATE REQUEST-----", StringComparison.Ordinal) < 0 &&
                pem.IndexOf("-----BEGIN NEW CERTIFICATE REQUEST-----", StringComparison.Ordinal) < 0)
                throw new KestrixException("no request armour in the text", KestrixNative.KX_NO_REQUEST_ARMOUR);
            return new Request(Encoding.UTF8.GetBytes(pem));
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
