/* Macro 11 as include */

#define MACRO_11_LEN  3

unsigned char MACRO_11[MACRO_11_LEN] =
{
   27, 68, 83
};
