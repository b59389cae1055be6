/* PowerOnMacro 0 as include */

#define POWERONMACRO_0_LEN  3

unsigned char POWERONMACRO_0[POWERONMACRO_0_LEN] =
{
   27, 68, 76
};
