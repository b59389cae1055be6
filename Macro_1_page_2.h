/* Macro 1 as include */

#define MACRO_1_PAGE_2_LEN  16

unsigned char MACRO_1_PAGE_2[MACRO_1_PAGE_2_LEN] =
{
   27, 71, 88,  1,  2,  2,  0,  3,  0, 27, 89, 81, 97, 98, 99,  0
};
