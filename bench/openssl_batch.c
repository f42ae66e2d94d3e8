/* The single-process OpenSSL baseline for bench/batch.py: reads every
 * certificate of the files named on standard input, one path a line (PEM,
 * any number of blocks, or DER), and prints what `openssl x509 -noout
 * -subject -dates` prints for each. Prints "N certificates, M files
 * refused" on standard error. */
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <string.h>

static void Print(BIO* out, X509* cert) {
  BIO_puts(out, "subject=");
  X509_NAME_print_ex(out, X509_get_subject_name(cert), 0, XN_FLAG_ONELINE);
  BIO_puts(out, "\nnotBefore=");
  ASN1_TIME_print(out, X509_get0_notBefore(cert));
  BIO_puts(out, "\nnotAfter=");
  ASN1_TIME_print(out, X509_get0_notAfter(cert));
  BIO_puts(out, "\n");
}

int main(void) {
  BIO* out = BIO_new_fp(stdout, BIO_NOCLOSE);
  char path[4096];
  unsigned long certs = 0, refused = 0;
  while (fgets(path, sizeof path, stdin) != NULL) {
    path[strcspn(path, "\n")] = '\0';
    BIO* in = BIO_new_file(path, "rb");
    if (in == NULL) {
      ++refused;
      continue;
    }
    unsigned long before = certs;
    X509* cert;
    while ((cert = PEM_read_bio_X509(in, NULL, NULL, NULL)) != NULL) {
      Print(out, cert);
      X509_free(cert);
      ++certs;
    }
    if (certs == before) { /* no PEM block: DER */
      ERR_clear_error();
      (void)BIO_reset(in);
      cert = d2i_X509_bio(in, NULL);
      if (cert != NULL) {
        Print(out, cert);
        X509_free(cert);
        ++certs;
      } else {
        ++refused;
      }
    }
    ERR_clear_error();
    BIO_free(in);
  }
  BIO_free(out);
  fprintf(stderr, "%lu certificates, %lu files refused\n", certs, refused);
  return 0;
}
