// qor_lib from C#: P/Invoke declarations of every export, and the boundary types.
// Statuses are sbyte (the library returns a signed 8-bit value), handles int, buffers IntPtr.
using System;
using System.Runtime.InteropServices;

namespace Qor
{
    public enum DataFormat : int
    {
        None = 0, U8 = 1, U16 = 2, S16 = 3, F32 = 4, U32 = 5, S32 = 6, F64 = 7, U64 = 8, S64 = 9
    }

    // The qor_info record, laid out exactly as the C header lays it out (24 bytes).
    [StructLayout(LayoutKind.Explicit, Size = 24)]
    public struct QorInfo
    {
        [FieldOffset(0)] public long Size;
        [FieldOffset(8)] public DataFormat DataType;
        [FieldOffset(12)] public ushort ValidBits;
        [FieldOffset(16)] public IntPtr FrameBuf;
    }

    public class QorException : Exception
    {
        public readonly sbyte Status;
        public QorException(string function, sbyte status) : base(function + " returned " + status) { Status = status; }
    }

    public static class Native
    {
        // Resolved as libqor_lib.so on Linux and qor_lib.dll on Windows.
        const string Lib = "qor_lib";
        const CallingConvention Cc = CallingConvention.Cdecl;

        // ---- array lifecycle
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_create_array(out int handle);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_destroy_array(int handle);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_init_array(int handle, long size, DataFormat format);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_init_array_ex(int handle, ref QorInfo info);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_get_info(int handle, out QorInfo info);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_get_buf(int handle, out IntPtr buf);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_get_data_byte(int handle, out byte bytes);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_sum(int handle);

        // ---- division
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_div(int a, int b, int c);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_divI(int a, int b);

        // ---- square, sub-array copy and extrema
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_square(int a, int b);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_sub_array(int src, int dst, long offset, long count);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_min_max(int a, ref float min, ref float max);

        // ---- logarithms
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_ln(int src, int dst);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_lnI(int handle);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_log1p(int src, int dst);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_log10(int src, int dst);

        // ---- format conversion
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_convert(int src, int dst);

        // ---- scaling
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_scaleC(int src, int dst, float factor, float offset);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_scaleCI(int handle, float factor, float offset);

        // ---- random numbers and the test signal
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_gaussian_rand(int handle, float mean, float stdev, uint seed);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_test_rand(int handle, float a, float b, float c);

        // ---- curves
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_sin_plot(int handle, float frequency, float amplitude, float offset, float phaseDeg);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_quadratic_plot(int handle, float a, float b, float c, float x0, float dx);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_gaussian_plot(int handle, float centre, float width, float height, float x0, float dx);

        // ---- ramps and tones
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_vector_slope(int handle, float offset, float slope);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_vector_tone(int handle, float magnitude, float rfreq, float phase);

        // ---- spectrum
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_dft_fwd(int src, int dst);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_dft_fwdI(int srcDst);

        // ---- histogram (counts: nBins counters, written in place: the array is pinned for the call)
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_histogram(int handle, [Out] uint[] counts, int nBins, float lower, float upper);

        // ---- fits
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_quadratic_fit(int source, int destination);
        [DllImport(Lib, CallingConvention = Cc)] public static extern sbyte qor_gaussian_fit(int handle, float x0, float dx, out float centre, out float sigma, out float amplitude);

        // Throws for a negative status; warnings (positive) and success pass.
        public static void Check(string function, sbyte status)
        {
            if (status < 0) throw new QorException(function, status);
        }
    }

    // One owned library array: created, given a buffer, destroyed on Dispose.
    public sealed class QorArray : IDisposable
    {
        public readonly int Handle;
        public readonly long Length;

        public QorArray(long length, DataFormat format)
        {
            Native.Check("qor_create_array", Native.qor_create_array(out Handle));
            Length = length;
            sbyte st = Native.qor_init_array(Handle, length, format);
            if (st < 0) { Native.qor_destroy_array(Handle); Native.Check("qor_init_array", st); }
        }

        public IntPtr Buffer
        {
            get { IntPtr p; Native.Check("qor_get_buf", Native.qor_get_buf(Handle, out p)); return p; }
        }

        public float[] ToFloats()
        {
            var v = new float[Length];
            Marshal.Copy(Buffer, v, 0, (int)Length);
            return v;
        }

        public void Set(float[] v) { Marshal.Copy(v, 0, Buffer, v.Length); }

        public void Dispose() { Native.qor_destroy_array(Handle); }
    }
}
