#include "catalogue/firebird_charset.h"

namespace quill {

unsigned codePageOfCharset(int charsetId) {
    switch (charsetId) {
    case 2: return 20127;   // ASCII
    case 5: return 932;     // SJIS_0208
    case 6: return 20932;   // EUCJ_0208
    case 9: return 737;     // DOS737
    case 10: return 437;    // DOS437
    case 11: return 850;    // DOS850
    case 12: return 865;    // DOS865
    case 13: return 860;    // DOS860
    case 14: return 863;    // DOS863
    case 15: return 775;    // DOS775
    case 16: return 858;    // DOS858
    case 17: return 862;    // DOS862
    case 18: return 864;    // DOS864
    case 21: return 28591;  // ISO8859_1
    case 22: return 28592;  // ISO8859_2
    case 23: return 28593;  // ISO8859_3
    case 34: return 28594;  // ISO8859_4
    case 35: return 28595;  // ISO8859_5
    case 36: return 28596;  // ISO8859_6
    case 37: return 28597;  // ISO8859_7
    case 38: return 28598;  // ISO8859_8
    case 39: return 28599;  // ISO8859_9
    case 40: return 28603;  // ISO8859_13
    case 44: return 949;    // KSC_5601
    case 45: return 852;    // DOS852
    case 46: return 857;    // DOS857
    case 47: return 861;    // DOS861
    case 48: return 866;    // DOS866
    case 49: return 869;    // DOS869
    case 51: return 1250;   // WIN1250
    case 52: return 1251;   // WIN1251
    case 53: return 1252;   // WIN1252
    case 54: return 1253;   // WIN1253
    case 55: return 1254;   // WIN1254
    case 56: return 950;    // BIG_5
    case 57: return 936;    // GB_2312
    case 58: return 1255;   // WIN1255
    case 59: return 1256;   // WIN1256
    case 60: return 1257;   // WIN1257
    case 63: return 20866;  // KOI8R
    case 64: return 21866;  // KOI8U
    case 65: return 1258;   // WIN1258
    case 66: return 874;    // TIS620
    case 67: return 936;    // GBK
    case 68: return 932;    // CP943C
    case 69: return 54936;  // GB18030
    default: return 0;
    }
}

}  // namespace quill
